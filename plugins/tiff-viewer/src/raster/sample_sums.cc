#include "raster/sample_sums.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace brindle::tiff {
namespace {

bool is_grey(const RasterLayout& l, std::uint64_t k) {
  return !l.has_alpha && !l.color_map && !l.cmyk && k == 1 && l.bands == 1;
}

std::size_t first_pixel(const ChunkSpan& s, std::uint64_t rr) {
  return static_cast<std::size_t>(((s.cy + rr) / s.t - s.y0) * s.w + s.ox_begin);
}

// Row rr of a chunk of whole T elements, one sample per pixel.
template <typename T>
const T* chunk_row(const ChunkData& chunk, std::uint64_t rr) {
  return reinterpret_cast<const T*>(chunk.bytes.data()) + rr * chunk.stored_width;
}

// The no-data value as one of T's values, when it is one.
template <typename T>
std::optional<T> integer_nodata(const PixelRules& rules) {
  const float v = rules.nodata;
  if (!rules.has_nodata || !(v >= 0) || v > static_cast<float>(std::numeric_limits<T>::max()) || v != std::floor(v)) {
    return std::nullopt;
  }
  return static_cast<T>(v);
}

// Adds each output pixel's run of up to t grey samples at once;
// `sample(r, c)` reads the sample at chunk row r, column c as a float.
template <typename Sample>
void add_grey(SampleAccumulator& acc, const ChunkSpan& s, const PixelRules& rules, Sample sample) {
  for (std::uint64_t rr = s.r_begin; rr < s.r_end; ++rr) {
    std::size_t pixel = first_pixel(s, rr);
    std::uint64_t c = s.c_begin;
    std::uint64_t run = s.t - s.phase_begin;
    while (c < s.c_end) {
      const std::uint64_t end = std::min(s.c_end, c + run);
      float sum = 0;
      std::uint32_t n = 0;
      for (; c < end; ++c) {
        const float v = sample(rr, c);
        const bool accepted = !(rules.has_nodata && v == rules.nodata);
        sum += accepted ? v : 0.0f;
        n += accepted;
      }
      acc.sums[pixel] += sum;
      acc.counts[pixel] += n;
      ++pixel;
      run = s.t;
    }
  }
}

template <typename T, typename ToFloat>
void add_grey_typed(SampleAccumulator& acc, const ChunkSpan& s, const PixelRules& rules, const ChunkData& chunk,
                    ToFloat to_float) {
  const std::uint8_t* base = chunk.bytes.data();
  const std::uint64_t stride = chunk.stored_width;
  add_grey(acc, s, rules, [&](std::uint64_t r, std::uint64_t c) {
    T v;
    std::memcpy(&v, base + (r * stride + c) * sizeof(T), sizeof v);
    return to_float(v);
  });
}

// Small unsigned grey samples summed as integers: a run of at most 256
// samples of 16 bits stays below 2^24, so every partial sum is exact in a
// float and equals the float sum sample by sample. `row_at(rr)` gives chunk
// row rr as T elements, column 0 first.
template <typename T, typename RowAt>
void add_grey_integers(SampleAccumulator& acc, const ChunkSpan& s, const PixelRules& rules, RowAt row_at) {
  const std::optional<T> nodata = integer_nodata<T>(rules);
  for (std::uint64_t rr = s.r_begin; rr < s.r_end; ++rr) {
    const T* row = row_at(rr);
    std::size_t pixel = first_pixel(s, rr);
    if (s.t == 1 && !nodata) {
      // Full resolution: one sample per pixel.
      float* sums = &acc.sums[pixel];
      std::uint32_t* counts = &acc.counts[pixel];
      const T* samples = row + s.c_begin;
      for (std::uint64_t i = 0; i < s.c_end - s.c_begin; ++i) {
        sums[i] += static_cast<float>(samples[i]);
        ++counts[i];
      }
      continue;
    }
    std::uint64_t c = s.c_begin;
    std::uint64_t run = s.t - s.phase_begin;
    while (c < s.c_end) {
      const std::uint64_t end = std::min(s.c_end, c + run);
      std::uint32_t sum = 0;
      std::uint32_t n = 0;
      if (nodata) {
        for (; c < end; ++c) {
          const bool accepted = row[c] != *nodata;
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
      run = s.t;
    }
  }
}

// Bilevel and other packed grey samples of up to 16 bits are unpacked a row
// at a time and summed as integers: a fax page is millions of 1-bit samples,
// and a float per sample would cost more than decoding it.
void add_grey_packed(SampleAccumulator& acc, const ChunkSpan& s, const PixelRules& rules, const ChunkData& chunk) {
  const unsigned bits = chunk.bits_per_sample;
  const std::uint64_t row_bytes = (std::uint64_t{bits} * chunk.stored_width + 7) / 8;
  std::vector<std::uint16_t> row(static_cast<std::size_t>(s.c_end));
  add_grey_integers<std::uint16_t>(acc, s, rules, [&](std::uint64_t rr) {
    unpack_samples(chunk.bytes.data() + rr * row_bytes, bits, s.c_begin, s.c_end, row.data());
    return row.data();
  });
}

bool add_grey_in_place(SampleAccumulator& acc, const ChunkSpan& s, const PixelRules& rules, const ChunkData& chunk) {
  auto as_float = [](auto v) { return static_cast<float>(v); };
  const bool aligned = reinterpret_cast<std::uintptr_t>(chunk.bytes.data()) % alignof(std::uint16_t) == 0;
  switch (chunk.kind) {
    case SampleKind::u8:
      if (s.t <= 256) {
        add_grey_integers<std::uint8_t>(acc, s, rules, [&](std::uint64_t rr) { return chunk_row<std::uint8_t>(chunk, rr); });
      } else {
        add_grey_typed<std::uint8_t>(acc, s, rules, chunk, as_float);
      }
      return true;
    case SampleKind::u16:
      if (s.t <= 256 && aligned) {
        add_grey_integers<std::uint16_t>(acc, s, rules, [&](std::uint64_t rr) { return chunk_row<std::uint16_t>(chunk, rr); });
      } else {
        add_grey_typed<std::uint16_t>(acc, s, rules, chunk, as_float);
      }
      return true;
    case SampleKind::i16: add_grey_typed<std::int16_t>(acc, s, rules, chunk, as_float); return true;
    case SampleKind::u32: add_grey_typed<std::uint32_t>(acc, s, rules, chunk, as_float); return true;
    case SampleKind::i32: add_grey_typed<std::int32_t>(acc, s, rules, chunk, as_float); return true;
    case SampleKind::f32: add_grey_typed<float>(acc, s, rules, chunk, as_float); return true;
    case SampleKind::f64: add_grey_typed<double>(acc, s, rules, chunk, as_float); return true;
    case SampleKind::packed:
      if (s.t > 256 || chunk.bits_per_sample > 16) return false;
      add_grey_packed(acc, s, rules, chunk);
      return true;
    default: return false;
  }
}

// At most this many samples of a pixel are summed in place.
constexpr std::uint64_t MAX_USED = 4;

// Where sample j of a pixel goes, as accumulate_sample would put it: a
// colour band, alpha, or nowhere.
constexpr int TO_ALPHA = -1;
constexpr int NOWHERE = -2;

// Pixel-interleaved 8- or 16-bit colour (or grey with alpha) without a
// palette or CMYK: each band of a run summed as an integer, exact as above.
// `row_at(rr)` gives chunk row rr as T elements, pixel 0 first, a pixel
// every k elements.
template <typename T, typename RowAt>
void add_pixels_integers(SampleAccumulator& acc, const ChunkSpan& s, const PixelRules& rules, std::uint64_t k,
                         RowAt row_at) {
  const RasterLayout& l = *rules.layout;
  const std::uint64_t used = rules.used;
  int dest[MAX_USED];
  for (std::uint64_t j = 0; j < used; ++j) {
    dest[j] = l.has_alpha && j == l.alpha_index ? TO_ALPHA : j < acc.bands ? static_cast<int>(j) : NOWHERE;
  }
  const std::optional<T> nodata = integer_nodata<T>(rules);
  for (std::uint64_t rr = s.r_begin; rr < s.r_end; ++rr) {
    const T* row = row_at(rr);
    std::size_t pixel = first_pixel(s, rr);
    if (s.t == 1) {
      // Full resolution: one pixel per output pixel.
      for (std::uint64_t c = s.c_begin; c < s.c_end; ++c, ++pixel) {
        const T* px = row + c * k;
        if (nodata && px[0] == *nodata) continue;
        ++acc.counts[pixel];
        float* sums = &acc.sums[pixel * acc.bands];
        for (std::uint64_t j = 0; j < used; ++j) {
          if (dest[j] >= 0) {
            sums[dest[j]] += static_cast<float>(px[j]);
          } else if (dest[j] == TO_ALPHA) {
            acc.alpha_sums[pixel] += static_cast<float>(px[j]);
          }
        }
      }
      continue;
    }
    std::uint64_t c = s.c_begin;
    std::uint64_t run = s.t - s.phase_begin;
    while (c < s.c_end) {
      const std::uint64_t end = std::min(s.c_end, c + run);
      std::uint32_t sum[MAX_USED] = {};
      std::uint32_t n = 0;
      for (; c < end; ++c) {
        const T* px = row + c * k;
        if (nodata && px[0] == *nodata) continue;
        ++n;
        for (std::uint64_t j = 0; j < used; ++j) sum[j] += px[j];
      }
      float* sums = &acc.sums[pixel * acc.bands];
      for (std::uint64_t j = 0; j < used; ++j) {
        if (dest[j] == TO_ALPHA) {
          acc.alpha_sums[pixel] += static_cast<float>(sum[j]);
        } else if (dest[j] != NOWHERE) {
          sums[dest[j]] += static_cast<float>(sum[j]);
        }
      }
      acc.counts[pixel] += n;
      ++pixel;
      run = s.t;
    }
  }
}

}  // namespace

bool add_in_place(SampleAccumulator& acc, const ChunkSpan& span, const ChunkData& chunk, const PixelRules& rules) {
  const RasterLayout& l = *rules.layout;
  if (is_grey(l, chunk.samples_per_pixel)) {
    return (!l.planar || span.first_plane) && add_grey_in_place(acc, span, rules, chunk);
  }
  if (l.planar || l.color_map || l.cmyk || span.t > 256 || rules.used > MAX_USED) return false;
  const std::uint64_t k = chunk.samples_per_pixel;
  const bool aligned = reinterpret_cast<std::uintptr_t>(chunk.bytes.data()) % alignof(std::uint16_t) == 0;
  if (chunk.kind == SampleKind::u8) {
    add_pixels_integers<std::uint8_t>(acc, span, rules, k, [&](std::uint64_t rr) {
      return chunk.bytes.data() + rr * chunk.stored_width * k;
    });
    return true;
  }
  if (chunk.kind == SampleKind::u16 && aligned) {
    add_pixels_integers<std::uint16_t>(acc, span, rules, k, [&](std::uint64_t rr) {
      return reinterpret_cast<const std::uint16_t*>(chunk.bytes.data()) + rr * chunk.stored_width * k;
    });
    return true;
  }
  if (chunk.kind == SampleKind::packed && chunk.bits_per_sample <= 16) {
    // The used samples of each pixel unpacked a row at a time.
    const unsigned bits = chunk.bits_per_sample;
    const std::uint64_t row_bytes = (std::uint64_t{bits} * k * chunk.stored_width + 7) / 8;
    std::vector<std::uint16_t> row(static_cast<std::size_t>(span.c_end * rules.used));
    add_pixels_integers<std::uint16_t>(acc, span, rules, rules.used, [&](std::uint64_t rr) {
      unpack_pixels(chunk.bytes.data() + rr * row_bytes, bits, k, rules.used, span.c_begin, span.c_end, row.data());
      return row.data();
    });
    return true;
  }
  return false;
}

void add_converted(SampleAccumulator& acc, const ChunkSpan& s, std::uint64_t width, const PixelRules& rules,
                   const float* samples, std::uint64_t a, std::uint64_t b) {
  const RasterLayout& l = *rules.layout;
  const std::uint64_t used = rules.used;
  if (is_grey(l, l.planar ? 1 : l.samples_per_pixel) && (!l.planar || s.first_plane)) {
    ChunkSpan part = s;
    part.r_begin = a;
    part.r_end = b;
    add_grey(acc, part, rules, [&](std::uint64_t r, std::uint64_t c) { return samples[(r - a) * width + c]; });
    return;
  }
  // Plain grey or colour samples go straight into the band sums.
  const bool simple = !l.has_alpha && !l.color_map && !l.cmyk;
  const std::uint64_t simple_samples = std::min<std::uint64_t>(l.planar ? 1 : l.samples_per_pixel, l.bands);
  for (std::uint64_t rr = a; rr < b; ++rr) {
    const float* px = samples + ((rr - a) * width + s.c_begin) * used;
    std::size_t pixel = first_pixel(s, rr);
    std::uint64_t phase = s.phase_begin;
    for (std::uint64_t c = s.c_begin; c < s.c_end; ++c, px += used) {
      if (l.planar && !s.first_plane) {
        accumulate_sample(acc, pixel, s.plane, l, rules.palette_stride, px[0]);
      } else if (!(rules.has_nodata && px[0] == rules.nodata)) {
        ++acc.counts[pixel];
        if (simple) {
          float* sums = &acc.sums[pixel * acc.bands];
          for (std::uint64_t j = 0; j < simple_samples; ++j) sums[j] += px[j];
        } else {
          for (std::uint64_t j = 0; j < used; ++j) accumulate_sample(acc, pixel, j, l, rules.palette_stride, px[j]);
        }
      }
      if (++phase == s.t) {
        phase = 0;
        ++pixel;
      }
    }
  }
}

}  // namespace brindle::tiff
