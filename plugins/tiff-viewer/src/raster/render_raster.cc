#include "raster/render_raster.h"

#include <algorithm>

#include "doc/level_table.h"
#include "raster/raster_layout.h"
#include "raster/sample_convert.h"
#include "raster/sample_sums.h"

namespace brindle::tiff {
namespace {

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

struct ChunkGrid {
  bool tiled = false;
  std::uint64_t count = 0;
  std::uint64_t cw = 0;  // nominal chunk size
  std::uint64_t ch = 0;
  std::uint64_t planes = 1;
  std::uint64_t per_plane = 1;
  std::uint64_t across = 1;
  std::uint64_t buffer_bytes = 0;  // one decoded chunk as libtiff writes it
};

std::expected<ChunkGrid, std::string> chunk_grid(TiffDecoder& decoder, const RasterLayout& l, std::uint64_t W,
                                                 std::uint64_t H) {
  TIFF* tif = decoder.handle();
  decoder.clear_errors();
  ChunkGrid g;
  g.tiled = TIFFIsTiled(tif) != 0;
  if (g.tiled) {
    std::uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    g.cw = tw;
    g.ch = th;
    g.count = TIFFNumberOfTiles(tif);
    g.buffer_bytes = TIFFTileSize64(tif);
  } else {
    std::uint32_t rps = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    g.cw = W;
    g.ch = std::min<std::uint64_t>(rps, H);
    g.count = TIFFNumberOfStrips(tif);
    g.buffer_bytes = TIFFStripSize64(tif);
  }
  if (g.count == 0 || g.cw == 0 || g.ch == 0 || g.buffer_bytes == 0) {
    return std::unexpected(decoder.error_text("format error: inconsistent sizes encountered"));
  }
  g.planes = (l.planar && l.samples_per_pixel >= 2) ? l.samples_per_pixel : 1;
  g.per_plane = std::max<std::uint64_t>(g.count / g.planes, 1);
  g.across = std::max<std::uint64_t>(ceil_div(W, std::max<std::uint64_t>(g.cw, 1)), 1);
  return g;
}

// Converts rows [first, last) of a decoded chunk to floats a slice at a
// time and hands each slice [a, b) to `use`, with row a at the start of
// `samples`. Expanding a whole chunk at once could cost 32 times its
// decoded size (1-bit samples become floats); slices keep the expansion to
// SLICE_BYTES, and a single row may not pass the intermediate-buffer limit.
template <typename Use>
std::expected<void, std::string> for_each_slice(const ChunkData& chunk, std::uint64_t first, std::uint64_t last,
                                                std::vector<float>& samples, Use use) {
  constexpr std::uint64_t SLICE_BYTES = 16ull << 20;
  const std::uint64_t row_floats = chunk.converted_per_pixel() * chunk.width;
  if (row_floats * sizeof(float) > MAX_INTERMEDIATE_BUFFER) return std::unexpected(std::string(LIMITS_EXCEEDED));
  const std::uint64_t stride =
      chunk.kind == SampleKind::packed
          ? (std::uint64_t{chunk.bits_per_sample} * chunk.samples_per_pixel * chunk.stored_width + 7) / 8
          : chunk.samples_per_pixel * chunk.stored_width * element_size(chunk.kind);
  const std::uint64_t rows = std::max<std::uint64_t>(1, SLICE_BYTES / std::max<std::uint64_t>(row_floats * 4, 1));
  for (std::uint64_t a = first; a < last; a += rows) {
    const std::uint64_t b = std::min(last, a + rows);
    ChunkData part = chunk;
    const std::uint64_t from = std::min<std::uint64_t>(a * stride, chunk.bytes.size());
    part.bytes = chunk.bytes.subspan(from, std::min<std::uint64_t>((b - a) * stride, chunk.bytes.size() - from));
    part.height = static_cast<std::uint32_t>(b - a);
    if (auto ok = convert_chunk(part, samples); !ok) return ok;
    use(a, b);
  }
  return {};
}

}  // namespace

std::string debug_text(const Window& w) {
  return "Window { x: " + std::to_string(w.x) + ", y: " + std::to_string(w.y) + ", width: " +
         std::to_string(w.width) + ", height: " + std::to_string(w.height) + " }";
}

std::expected<RenderedRaster, std::string> render_raster(TiffDecoder& decoder, std::uint32_t factor,
                                                         const RasterMeta& meta, std::optional<Window> window,
                                                         const std::vector<BandRange>* reuse, RenderStats* stats) {
  decoder.clear_errors();
  auto layout_or = read_raster_layout(decoder);
  if (!layout_or) return std::unexpected(layout_or.error());
  const RasterLayout& l = *layout_or;

  const std::uint64_t t = std::max<std::uint32_t>(factor, 1);
  const std::uint64_t W = decoder.width();
  const std::uint64_t H = decoder.height();
  const std::uint64_t lw = std::max<std::uint64_t>(ceil_div(W, t), 1);
  const std::uint64_t lh = std::max<std::uint64_t>(ceil_div(H, t), 1);
  std::uint64_t x0 = 0, y0 = 0, w = lw, h = lh;
  if (window) {
    if (window->x >= lw || window->y >= lh || window->width == 0 || window->height == 0) {
      return std::unexpected("window " + debug_text(*window) + " outside level " + std::to_string(lw) + "\u00d7" +
                             std::to_string(lh));
    }
    x0 = window->x;
    y0 = window->y;
    w = std::min<std::uint64_t>(window->width, lw - x0);
    h = std::min<std::uint64_t>(window->height, lh - y0);
  }
  if (w * h > RENDER_CAP_PIXELS) {
    // The request handlers refuse such sizes first; this keeps the
    // allocation below bounded whoever calls.
    return std::unexpected(*region_cap_error(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)));
  }
  const std::size_t n = static_cast<std::size_t>(w * h);
  SampleAccumulator acc(l, n);

  auto grid_or = chunk_grid(decoder, l, W, H);
  if (!grid_or) return std::unexpected(grid_or.error());
  const ChunkGrid& g = *grid_or;

  // Full-resolution span of the window, ends exclusive.
  const std::uint64_t sx0 = x0 * t, sx1 = std::min(W, (x0 + w) * t);
  const std::uint64_t sy0 = y0 * t, sy1 = std::min(H, (y0 + h) * t);
  const std::uint64_t k = l.planar ? 1 : l.samples_per_pixel;
  // The samples of a pixel that can reach the picture: the colour bands,
  // CMYK black, the palette index and alpha.
  std::uint64_t used = l.bands;
  if (l.cmyk) used = std::max<std::uint64_t>(used, 4);
  if (l.has_alpha) used = std::max<std::uint64_t>(used, l.alpha_index + 1);
  used = std::min(used, k);
  PixelRules rules{&l, used, palette_stride(l), meta.nodata.has_value(), 0.0f};
  if (rules.has_nodata) rules.nodata = static_cast<float>(*meta.nodata);
  const SampleKind kind = sample_kind(l);

  // Allocated at the first chunk read and never cleared by hand: fresh
  // pages are zero already, and a read that fails at once (a chunk beyond
  // the end of the file) then costs nothing for a buffer of up to 256 MiB.
  ZeroedArray<std::uint8_t> buffer(0);
  std::vector<float> samples;
  for (std::uint64_t p = 0; p < g.planes; ++p) {
    // Only the chunk rows and columns that meet the span.
    const std::uint64_t row_first = sy0 / g.ch, row_last = (sy1 - 1) / g.ch;
    const std::uint64_t col_first = sx0 / g.cw, col_last = (sx1 - 1) / g.cw;
    for (std::uint64_t row = row_first; row <= row_last; ++row) {
      for (std::uint64_t col = col_first; col <= col_last && col < g.across; ++col) {
        const std::uint64_t r = row * g.across + col;
        if (r >= g.per_plane) continue;
        const std::uint64_t i = p * g.per_plane + r;
        if (i >= g.count) continue;
        const std::uint64_t cx = col * g.cw, cy = row * g.ch;
        if (cx >= W || cy >= H) continue;
        const std::uint64_t dw = g.tiled ? std::min(g.cw, W - cx) : W;
        const std::uint64_t dh = std::min(g.ch, H - cy);
        if (dw == 0 || dh == 0) continue;

        if (g.buffer_bytes > MAX_DECODING_BUFFER) {
          return std::unexpected("chunk " + std::to_string(i) + ": " + std::string(LIMITS_EXCEEDED));
        }
        // Without a memory map, libtiff's uncompressed path would read a
        // chunk of byte count 0 (absent or beyond a short offset array)
        // from offset 0, showing the file header as pixels.
        if (TIFFGetStrileByteCount(decoder.handle(), static_cast<std::uint32_t>(i)) == 0) {
          return std::unexpected("chunk " + std::to_string(i) + ": invalid " + (g.tiled ? "tile" : "strip") +
                                 " byte count 0");
        }
        if (buffer.empty()) buffer = ZeroedArray<std::uint8_t>(static_cast<std::size_t>(g.buffer_bytes));
        decoder.clear_errors();
        const tmsize_t got =
            g.tiled ? TIFFReadEncodedTile(decoder.handle(), static_cast<std::uint32_t>(i), buffer.data(),
                                          static_cast<tmsize_t>(buffer.size()))
                    : TIFFReadEncodedStrip(decoder.handle(), static_cast<std::uint32_t>(i), buffer.data(),
                                           static_cast<tmsize_t>(buffer.size()));
        if (got < 0) {
          return std::unexpected("chunk " + std::to_string(i) + ": " + decoder.error_text("read error"));
        }
        if (stats != nullptr) stats->decoded_chunks.push_back(static_cast<std::uint32_t>(i));

        ChunkData chunk{std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)),
                        kind,
                        static_cast<std::uint32_t>(g.tiled ? g.cw : W),
                        static_cast<std::uint32_t>(dw),
                        static_cast<std::uint32_t>(dh),
                        k,
                        l.bits_per_sample,
                        used};

        // Columns and rows of this chunk that land in the window.
        const std::uint64_t c_begin = sx0 > cx ? sx0 - cx : 0;
        const std::uint64_t c_end = std::min(dw, sx1 - std::min(sx1, cx));
        const std::uint64_t r_begin = sy0 > cy ? sy0 - cy : 0;
        const std::uint64_t r_end = std::min(dh, sy1 - std::min(sy1, cy));
        const bool first_plane = i < g.per_plane;
        // Output column of the first used sample and its phase inside the
        // t samples of that column; stepping avoids a division per sample.
        const std::uint64_t ox_begin = (cx + c_begin) / t - x0;
        const std::uint64_t phase_begin = (cx + c_begin) % t;

        const ChunkSpan span{r_begin, r_end, c_begin, c_end, cy, y0, t, w, ox_begin, phase_begin, p, first_plane};
        if (auto ok = check_chunk_size(chunk); !ok) return std::unexpected(ok.error());
        if (add_in_place(acc, span, chunk, rules)) continue;
        auto sliced = for_each_slice(chunk, r_begin, r_end, samples, [&](std::uint64_t a, std::uint64_t b) {
          add_converted(acc, span, dw, rules, samples.data(), a, b);
        });
        if (!sliced) return std::unexpected(sliced.error());
      }
    }
  }
  buffer = ZeroedArray<std::uint8_t>(0);
  samples = {};
  const OutputGeometry geometry{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), x0, y0, t, W, H};
  return finish_raster(acc, l, geometry, meta, reuse);
}

}  // namespace brindle::tiff
