#include "raster/render_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "doc/level_table.h"
#include "raster/raster_layout.h"
#include "raster/sample_convert.h"

namespace brindle::tiff {
namespace {

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// The part of one chunk that lands in the output, for a grey image with one
// sample per chunk pixel.
struct GreyRun {
  std::uint64_t r_begin, r_end, c_begin, c_end;  // chunk rows and columns used
  std::uint64_t cy, y0, t, w;
  std::uint64_t ox_begin, phase_begin;  // output column of c_begin, and its phase
  bool has_nodata;
  float nodata;
};

// Adds each output pixel's run of up to t samples at once; `sample(r, c)`
// reads the chunk's sample at data row r, column c as a float.
template <typename Sample>
void add_grey(SampleAccumulator& acc, const GreyRun& g, Sample sample) {
  for (std::uint64_t rr = g.r_begin; rr < g.r_end; ++rr) {
    std::size_t pixel = static_cast<std::size_t>(((g.cy + rr) / g.t - g.y0) * g.w + g.ox_begin);
    std::uint64_t c = g.c_begin;
    std::uint64_t run = g.t - g.phase_begin;
    while (c < g.c_end) {
      const std::uint64_t end = std::min(g.c_end, c + run);
      float sum = 0;
      std::uint32_t n = 0;
      for (; c < end; ++c) {
        const float v = sample(rr, c);
        const bool accepted = !(g.has_nodata && v == g.nodata);
        sum += accepted ? v : 0.0f;
        n += accepted;
      }
      acc.sums[pixel] += sum;
      acc.counts[pixel] += n;
      ++pixel;
      run = g.t;
    }
  }
}

template <typename T, typename ToFloat>
void add_grey_typed(SampleAccumulator& acc, const GreyRun& g, const ChunkData& chunk, ToFloat to_float) {
  const std::uint8_t* base = chunk.bytes.data();
  const std::uint64_t stride = chunk.stored_width;
  add_grey(acc, g, [&](std::uint64_t r, std::uint64_t c) {
    T v;
    std::memcpy(&v, base + (r * stride + c) * sizeof(T), sizeof v);
    return to_float(v);
  });
}

// Small unsigned samples summed as integers: a run of at most 256 samples
// of 16 bits stays below 2^24, so every partial sum is exact in a float and
// the result equals the float sum sample by sample.
template <typename T>
void add_grey_integers(SampleAccumulator& acc, const GreyRun& g, const ChunkData& chunk) {
  // A no-data value matches a sample only when it is one of T's values.
  const bool match = g.has_nodata && g.nodata >= 0 && g.nodata <= static_cast<float>(std::numeric_limits<T>::max()) &&
                     g.nodata == std::floor(g.nodata);
  const T nodata = match ? static_cast<T>(g.nodata) : T{};
  for (std::uint64_t rr = g.r_begin; rr < g.r_end; ++rr) {
    const T* row = reinterpret_cast<const T*>(chunk.bytes.data()) + rr * chunk.stored_width;
    std::size_t pixel = static_cast<std::size_t>(((g.cy + rr) / g.t - g.y0) * g.w + g.ox_begin);
    std::uint64_t c = g.c_begin;
    std::uint64_t run = g.t - g.phase_begin;
    while (c < g.c_end) {
      const std::uint64_t end = std::min(g.c_end, c + run);
      std::uint32_t sum = 0;
      std::uint32_t n = 0;
      if (match) {
        for (; c < end; ++c) {
          const bool accepted = row[c] != nodata;
          sum += accepted ? row[c] : 0u;
          n += accepted;
        }
      } else {
        n = static_cast<std::uint32_t>(end - c);
        for (; c < end; ++c) sum += row[c];
      }
      acc.sums[pixel] += static_cast<float>(sum);
      acc.counts[pixel] += n;
      ++pixel;
      run = g.t;
    }
  }
}

// Reads the elements in place; false for kinds that need the float buffer.
bool add_grey_in_place(SampleAccumulator& acc, const GreyRun& g, const ChunkData& chunk) {
  auto as_float = [](auto v) { return static_cast<float>(v); };
  const bool aligned = reinterpret_cast<std::uintptr_t>(chunk.bytes.data()) % alignof(std::uint16_t) == 0;
  switch (chunk.kind) {
    case SampleKind::u8:
      if (g.t <= 256) {
        add_grey_integers<std::uint8_t>(acc, g, chunk);
      } else {
        add_grey_typed<std::uint8_t>(acc, g, chunk, as_float);
      }
      return true;
    case SampleKind::u16:
      if (g.t <= 256 && aligned) {
        add_grey_integers<std::uint16_t>(acc, g, chunk);
      } else {
        add_grey_typed<std::uint16_t>(acc, g, chunk, as_float);
      }
      return true;
    case SampleKind::i16: add_grey_typed<std::int16_t>(acc, g, chunk, as_float); return true;
    case SampleKind::u32: add_grey_typed<std::uint32_t>(acc, g, chunk, as_float); return true;
    case SampleKind::i32: add_grey_typed<std::int32_t>(acc, g, chunk, as_float); return true;
    case SampleKind::f32: add_grey_typed<float>(acc, g, chunk, as_float); return true;
    case SampleKind::f64: add_grey_typed<double>(acc, g, chunk, as_float); return true;
    default: return false;
  }
}

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
  const std::uint64_t stride = palette_stride(l);
  // Compared as 32-bit floats: a NaN no-data value never matches.
  const bool has_nodata = meta.nodata.has_value();
  const float nodata = has_nodata ? static_cast<float>(*meta.nodata) : 0.0f;
  const SampleKind kind = sample_kind(l);
  // Plain grey or colour samples go straight into the band sums.
  const bool simple = !l.has_alpha && !l.color_map && !l.cmyk;
  const std::uint64_t simple_samples = std::min<std::uint64_t>(k, l.bands);
  const bool grey = simple && k == 1 && l.bands == 1;

  std::vector<std::uint8_t> buffer;
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
        buffer.resize(static_cast<std::size_t>(g.buffer_bytes));
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

        if (grey && (!l.planar || first_plane)) {
          if (auto ok = check_chunk_size(chunk); !ok) return std::unexpected(ok.error());
          const GreyRun run{r_begin, r_end, c_begin, c_end, cy, y0, t, w, ox_begin, phase_begin, has_nodata, nodata};
          if (add_grey_in_place(acc, run, chunk)) continue;
          auto sliced = for_each_slice(chunk, r_begin, r_end, samples, [&](std::uint64_t a, std::uint64_t b) {
            GreyRun part = run;
            part.r_begin = a;
            part.r_end = b;
            add_grey(acc, part, [&](std::uint64_t r, std::uint64_t c) { return samples[(r - a) * dw + c]; });
          });
          if (!sliced) return std::unexpected(sliced.error());
          continue;
        }

        if (auto ok = check_chunk_size(chunk); !ok) return std::unexpected(ok.error());
        auto sliced = for_each_slice(chunk, r_begin, r_end, samples, [&](std::uint64_t a, std::uint64_t b) {
        for (std::uint64_t rr = a; rr < b; ++rr) {
          const std::size_t out_row = static_cast<std::size_t>(((cy + rr) / t - y0) * w);
          const float* s = samples.data() + ((rr - a) * dw + c_begin) * used;
          std::size_t pixel = out_row + static_cast<std::size_t>(ox_begin);
          std::uint64_t phase = phase_begin;
          for (std::uint64_t c = c_begin; c < c_end; ++c, s += used) {
            if (l.planar && !first_plane) {
              accumulate_sample(acc, pixel, p, l, stride, s[0]);
            } else if (!(has_nodata && s[0] == nodata)) {
              ++acc.counts[pixel];
              if (simple) {
                float* sums = &acc.sums[pixel * acc.bands];
                for (std::uint64_t j = 0; j < simple_samples; ++j) sums[j] += s[j];
              } else {
                for (std::uint64_t j = 0; j < used; ++j) accumulate_sample(acc, pixel, j, l, stride, s[j]);
              }
            }
            if (++phase == t) {
              phase = 0;
              ++pixel;
            }
          }
        }
        });
        if (!sliced) return std::unexpected(sliced.error());
      }
    }
  }
  buffer = {};
  samples = {};
  const OutputGeometry geometry{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), x0, y0, t, W, H};
  return finish_raster(acc, l, geometry, meta, reuse);
}

}  // namespace brindle::tiff
