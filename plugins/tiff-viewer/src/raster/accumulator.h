// Per-output-pixel sums of accepted samples and their conversion into
// display pixels: averages, per-band ranges, value mappings (a fixed linear
// scale or a min/max stretch) and the colour models (grey, WhiteIsZero,
// palette, RGB, YCbCr, CMYK) with coverage and alpha.
//
// All arithmetic is in 32-bit floats. The accumulator owns its lists; the
// caller only passes pixel indices inside the output.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "plugin_protocol/viewer.h"

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

// A zero-filled array from calloc: fresh memory from the system is zero
// already, so large accumulators cost no separate clearing pass.
template <typename T>
class ZeroedArray {
 public:
  explicit ZeroedArray(std::size_t n) : size_(n), data_(n ? static_cast<T*>(std::calloc(n, sizeof(T))) : nullptr) {
    if (n && !data_) throw std::bad_alloc();
  }
  T& operator[](std::size_t i) { return data_.get()[i]; }
  T* data() { return data_.get(); }
  const T& operator[](std::size_t i) const { return data_.get()[i]; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  std::size_t size_;
  std::unique_ptr<T, Free> data_;
};

struct SampleAccumulator {
  std::uint64_t bands = 1;
  ZeroedArray<float> sums;        // bands per pixel
  ZeroedArray<float> alpha_sums;  // empty without an alpha sample
  ZeroedArray<float> black_sums;  // empty unless CMYK
  ZeroedArray<std::uint32_t> counts;

  SampleAccumulator(const RasterLayout& layout, std::size_t pixels);
};

// Offset of the first pixel byte in a one-frame image payload.
inline constexpr std::size_t FRAME_PIXELS_OFFSET = 31;

// The 31 header bytes of a one-frame image payload (flags 0).
Payload single_frame_header(std::uint8_t channels, std::uint8_t bit_depth, std::uint32_t width,
                            std::uint32_t height);

struct RenderedRaster {
  // The reply itself: a one-frame image payload whose frame holds the RGBA
  // rows from the top, no padding; built in place to spare a copy.
  Payload image;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t channels = 0;
  std::uint8_t bit_depth = 0;
  std::vector<BandRange> band_ranges;  // the ranges used, before GDAL statistics

  std::span<const std::uint8_t> pixels() const {
    return std::span<const std::uint8_t>(image).subspan(FRAME_PIXELS_OFFSET);
  }
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
// (x + 0.5 is exact in double, so truncating it rounds halves up.)
inline std::uint8_t to_byte(float x) {
  if (!(x > 0.0f)) return 0;
  if (x >= 255.0f) return 255;
  return static_cast<std::uint8_t>(static_cast<double>(x) + 0.5);
}

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
