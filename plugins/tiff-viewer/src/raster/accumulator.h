// Per-output-pixel sums of accepted samples and their conversion into
// display pixels: averages, per-band ranges, value mappings (a fixed linear
// scale or a min/max stretch) and the colour models (grey, WhiteIsZero,
// palette, RGB, YCbCr, CMYK) with coverage and alpha.
//
// All arithmetic is in 32-bit floats. The accumulator owns its lists; the
// caller only passes pixel indices inside the output.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "doc/raster_meta.h"
#include "raster/raster_layout.h"

namespace brindle::tiff {

struct BandRange {
  float min = 0;
  float max = 0;
  bool operator==(const BandRange&) const = default;
};

struct BandMapping {
  enum class Kind { Linear, Stretch };
  Kind kind = Kind::Linear;
  float scale = 1;  // Linear
  float low = 0;    // Stretch
  float high = 0;
};

struct SampleAccumulator {
  std::uint64_t bands = 1;
  std::vector<float> sums;        // bands per pixel
  std::vector<float> alpha_sums;  // empty without an alpha sample
  std::vector<float> black_sums;  // empty unless CMYK
  std::vector<std::uint32_t> counts;

  SampleAccumulator(const RasterLayout& layout, std::size_t pixels);
};

struct RenderedRaster {
  std::vector<std::uint8_t> pixels;  // RGBA rows from the top, no padding
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t channels = 0;
  std::uint8_t bit_depth = 0;
  std::vector<BandRange> band_ranges;  // the ranges used, before GDAL statistics
};

// 2 to the power min(bits, 16): the length of each colour of a ColorMap.
inline std::uint64_t palette_stride(const RasterLayout& l) {
  return std::uint64_t{1} << (l.bits_per_sample < 16 ? l.bits_per_sample : 16);
}

// Adds one sample of output pixel `pixel` (alpha, palette lookup, CMYK
// black or a colour band); samples beyond the bands are ignored.
inline void accumulate_sample(SampleAccumulator& acc, std::size_t pixel, std::uint64_t sample_index,
                              const RasterLayout& l, std::uint64_t stride, float value) {
  if (l.has_alpha && sample_index == l.alpha_index) {
    acc.alpha_sums[pixel] += value;
  } else if (l.color_map) {
    if (sample_index != 0) return;
    std::uint64_t index = 0;
    if (value >= 18446744073709551615.0f) {
      index = UINT64_MAX;
    } else if (value > 0) {  // negative and NaN give 0
      index = static_cast<std::uint64_t>(value);
    }
    if (index > stride - 1) index = stride - 1;
    const auto& map = *l.color_map;
    float* sums = &acc.sums[pixel * acc.bands];
    for (std::uint64_t i = 0; i < 3; ++i) {
      const std::uint64_t at = index + i * stride;
      sums[i] += at < map.size() ? static_cast<float>(map[at]) : 0.0f;
    }
  } else if (l.cmyk) {
    if (sample_index < 3) {
      acc.sums[pixel * acc.bands + sample_index] += value;
    } else if (sample_index == 3) {
      acc.black_sums[pixel] += value;
    }
  } else if (sample_index < acc.bands) {
    acc.sums[pixel * acc.bands + sample_index] += value;
  }
}

std::vector<BandMapping> band_mappings(const RasterLayout& layout, const std::vector<BandRange>& ranges,
                                       const std::vector<std::optional<BandStats>>& band_stats);

std::uint8_t map_to_byte(const BandMapping& mapping, float value);

// Round to nearest, halves away from zero, clamp to 0..255; NaN gives 0.
std::uint8_t to_byte(float x);

// Where the output lies in the image, for the coverage of each pixel.
struct OutputGeometry {
  std::uint32_t width = 0;   // output pixels
  std::uint32_t height = 0;
  std::uint64_t x0 = 0;      // output origin in the level
  std::uint64_t y0 = 0;
  std::uint64_t factor = 1;
  std::uint64_t image_width = 0;  // full-resolution image
  std::uint64_t image_height = 0;
};

// Averages, ranges (band b from `reuse` when it has an entry b), mappings
// (GDAL statistics override stretched ranges) and composition of every
// output pixel.
RenderedRaster finish_raster(const SampleAccumulator& acc, const RasterLayout& layout, const OutputGeometry& geometry,
                             const RasterMeta& meta, const std::vector<BandRange>* reuse);

}  // namespace brindle::tiff
