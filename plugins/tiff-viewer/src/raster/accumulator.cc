#include "raster/accumulator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "plugin_protocol/image_payload.h"

namespace brindle::tiff {

SampleAccumulator::SampleAccumulator(const RasterLayout& layout, std::size_t pixels)
    : bands(layout.bands),
      sums(static_cast<std::size_t>(layout.bands) * pixels),
      alpha_sums(layout.has_alpha ? pixels : 0),
      black_sums(layout.cmyk ? pixels : 0),
      counts(pixels) {}

Payload single_frame_header(std::uint8_t channels, std::uint8_t bit_depth, std::uint32_t width,
                            std::uint32_t height) {
  Payload header = encode_single_frame(channels, bit_depth, 0, 0, {});
  for (std::size_t at : {std::size_t{5}, std::size_t{23}}) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(width >> (8 * i));
  }
  for (std::size_t at : {std::size_t{9}, std::size_t{27}}) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(height >> (8 * i));
  }
  return header;
}

std::uint8_t map_to_byte(const BandMapping& m, float value) {
  if (m.kind == BandMapping::Kind::Linear) return to_byte(value * m.scale);
  if (m.high > m.low) return to_byte((value - m.low) / (m.high - m.low) * 255.0f);
  return 128;
}

std::vector<BandMapping> band_mappings(const RasterLayout& l, const std::vector<BandRange>& ranges,
                                       const std::vector<std::optional<BandStats>>& band_stats) {
  std::vector<BandMapping> mappings(static_cast<std::size_t>(l.bands));
  const bool linear = l.color_map.has_value() || (l.sample_format == 1 && l.bits_per_sample <= 8);
  if (linear) {
    const float scale = l.color_map ? 255.0f / 65535.0f
                                    : 255.0f / static_cast<float>((1u << l.bits_per_sample) - 1);
    for (auto& m : mappings) m = {BandMapping::Kind::Linear, scale, 0, 0};
    return mappings;
  }
  for (std::size_t b = 0; b < mappings.size(); ++b) {
    BandMapping m{BandMapping::Kind::Stretch, 1, ranges[b].min, ranges[b].max};
    if (b < band_stats.size() && band_stats[b] && band_stats[b]->max > band_stats[b]->min) {
      m.low = static_cast<float>(band_stats[b]->min);
      m.high = static_cast<float>(band_stats[b]->max);
    }
    mappings[b] = m;
  }
  return mappings;
}

RenderedRaster finish_raster(const SampleAccumulator& acc, const RasterLayout& l, const OutputGeometry& g,
                             const RasterMeta& meta, const std::vector<BandRange>* reuse) {
  const std::size_t n = static_cast<std::size_t>(g.width) * g.height;
  const std::size_t bands = static_cast<std::size_t>(acc.bands);

  // Averages are recomputed where needed instead of kept in a second
  // list of bands x n floats.
  std::vector<BandRange> own(bands, {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()});
  for (std::size_t p = 0; p < n; ++p) {
    const std::uint32_t c = acc.counts[p];
    if (c == 0) continue;
    for (std::size_t b = 0; b < bands; ++b) {
      const float avg = acc.sums[p * bands + b] / static_cast<float>(c);
      if (std::isfinite(avg)) {
        own[b].min = std::min(own[b].min, avg);
        own[b].max = std::max(own[b].max, avg);
      }
    }
  }

  RenderedRaster out;
  out.width = g.width;
  out.height = g.height;
  out.channels = l.channels();
  out.bit_depth = l.bits_per_sample;
  out.band_ranges = own;
  if (reuse != nullptr) {
    for (std::size_t b = 0; b < bands && b < reuse->size(); ++b) out.band_ranges[b] = (*reuse)[b];
  }
  const auto mappings = band_mappings(l, out.band_ranges, meta.band_stats);
  const float alpha_max = l.bits_per_sample < 16 ? static_cast<float>((1u << l.bits_per_sample) - 1) : 65535.0f;

  // Rows are composed in a small buffer and appended to the reserved
  // payload, so the image is written once and never cleared first.
  out.image = single_frame_header(out.channels, out.bit_depth, g.width, g.height);
  out.image.reserve(FRAME_PIXELS_OFFSET + n * 4);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(g.width) * 4);
  for (std::uint32_t oy = 0; oy < g.height; ++oy) {
    std::uint8_t* px = row.data();
    const std::uint64_t rows = std::min<std::uint64_t>(g.factor, g.image_height - (g.y0 + oy) * g.factor);
    for (std::uint32_t ox = 0; ox < g.width; ++ox, px += 4) {
      const std::size_t p = static_cast<std::size_t>(oy) * g.width + ox;
      const std::uint32_t c = acc.counts[p];
      if (c == 0) {
        px[0] = px[1] = px[2] = px[3] = 0;
        continue;
      }
      float avg[3];
      for (std::size_t b = 0; b < bands; ++b) avg[b] = acc.sums[p * bands + b] / static_cast<float>(c);
      if (bands == 1) {
        std::uint8_t v = map_to_byte(mappings[0], avg[0]);
        if (l.photometric == PHOTOMETRIC_MINISWHITE) v = static_cast<std::uint8_t>(255 - v);
        px[0] = px[1] = px[2] = v;
      } else {
        const float c0 = map_to_byte(mappings[0], avg[0]);
        const float c1 = map_to_byte(mappings[1], avg[1]);
        const float c2 = map_to_byte(mappings[2], avg[2]);
        if (l.cmyk) {
          const float k = map_to_byte(mappings[0], acc.black_sums[p] / static_cast<float>(c));
          const float f = 1.0f - k / 255.0f;
          px[0] = to_byte((255.0f - c0) * f);
          px[1] = to_byte((255.0f - c1) * f);
          px[2] = to_byte((255.0f - c2) * f);
        } else if (l.photometric == PHOTOMETRIC_YCBCR) {
          const float cb = c1 - 128.0f;
          const float cr = c2 - 128.0f;
          px[0] = to_byte(c0 + 1.402f * cr);
          px[1] = to_byte(c0 - 0.344136f * cb - 0.714136f * cr);
          px[2] = to_byte(c0 + 1.772f * cb);
        } else {
          px[0] = static_cast<std::uint8_t>(c0);
          px[1] = static_cast<std::uint8_t>(c1);
          px[2] = static_cast<std::uint8_t>(c2);
        }
      }
      const std::uint64_t cols = std::min<std::uint64_t>(g.factor, g.image_width - (g.x0 + ox) * g.factor);
      const float coverage = static_cast<float>(c) / static_cast<float>(std::max<std::uint64_t>(cols * rows, 1));
      if (l.has_alpha) {
        px[3] = to_byte(coverage * (((acc.alpha_sums[p] / static_cast<float>(c)) / alpha_max) * 255.0f));
      } else {
        px[3] = to_byte(coverage * 255.0f);
      }
    }
    out.image.insert(out.image.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace brindle::tiff
