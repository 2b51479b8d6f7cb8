#include "raster/sample_convert.h"

#include <bit>
#include <cstring>

namespace brindle::tiff {

namespace {

// The `bits`-bit sample (1 to 16) starting at bit `bit` of `row`; it spans
// at most three bytes.
std::uint32_t packed_sample(const std::uint8_t* row, std::uint64_t bit, unsigned bits) {
  const std::uint64_t end = bit + bits;  // exclusive
  std::uint32_t window = 0;
  for (std::uint64_t b = bit >> 3; b <= (end - 1) >> 3; ++b) window = window << 8 | row[b];
  return (window >> ((8 - (end & 7)) & 7)) & ((1u << bits) - 1);
}

}  // namespace

void unpack_samples(const std::uint8_t* row, unsigned bits, std::uint64_t first, std::uint64_t last,
                    std::uint16_t* out) {
  if (bits == 1) {
    // Whole bytes eight samples at a time, the partial ones at either end
    // sample by sample.
    std::uint64_t c = first;
    for (; c < last && (c & 7) != 0; ++c) out[c] = (row[c >> 3] >> (7 - (c & 7))) & 1u;
    for (; c + 8 <= last; c += 8) {
      const unsigned byte = row[c >> 3];
      for (unsigned b = 0; b < 8; ++b) out[c + b] = (byte >> (7 - b)) & 1u;
    }
    for (; c < last; ++c) out[c] = (row[c >> 3] >> (7 - (c & 7))) & 1u;
    return;
  }
  for (std::uint64_t c = first; c < last; ++c) out[c] = static_cast<std::uint16_t>(packed_sample(row, c * bits, bits));
}

void unpack_pixels(const std::uint8_t* row, unsigned bits, std::uint64_t samples_per_pixel, std::uint64_t used,
                   std::uint64_t first, std::uint64_t last, std::uint16_t* out) {
  if (bits == 1) {
    for (std::uint64_t x = first; x < last; ++x) {
      for (std::uint64_t j = 0, at = x * samples_per_pixel; j < used; ++j, ++at) {
        out[x * used + j] = (row[at >> 3] >> (7 - (at & 7))) & 1u;
      }
    }
    return;
  }
  for (std::uint64_t x = first; x < last; ++x) {
    std::uint64_t bit = x * samples_per_pixel * bits;
    for (std::uint64_t j = 0; j < used; ++j, bit += bits) {
      out[x * used + j] = static_cast<std::uint16_t>(packed_sample(row, bit, bits));
    }
  }
}

std::size_t element_size(SampleKind kind) {
  switch (kind) {
    case SampleKind::u8:
    case SampleKind::i8:
    case SampleKind::packed: return 1;
    case SampleKind::u16:
    case SampleKind::i16:
    case SampleKind::f16: return 2;
    case SampleKind::u32:
    case SampleKind::i32:
    case SampleKind::f32: return 4;
    case SampleKind::u64:
    case SampleKind::i64:
    case SampleKind::f64: return 8;
  }
  return 1;
}

namespace {

template <typename T>
T load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T, typename F>
void convert_rows(const ChunkData& c, std::uint64_t row_elements, float* out, F to_float) {
  const std::uint64_t k = c.samples_per_pixel, used = c.converted_per_pixel();
  for (std::uint32_t r = 0; r < c.height; ++r) {
    const std::uint8_t* src = c.bytes.data() + r * row_elements * sizeof(T);
    if (used == k) {
      for (std::uint64_t j = 0; j < k * c.width; ++j) *out++ = to_float(load<T>(src + j * sizeof(T)));
      continue;
    }
    for (std::uint64_t x = 0; x < c.width; ++x)
      for (std::uint64_t j = 0; j < used; ++j) *out++ = to_float(load<T>(src + (x * k + j) * sizeof(T)));
  }
}

std::expected<void, std::string> convert_packed(const ChunkData& c, std::vector<float>& out) {
  const unsigned bits = c.bits_per_sample;
  const std::uint64_t row_bytes = (bits * c.samples_per_pixel * c.stored_width + 7) / 8;
  const std::uint64_t k = c.samples_per_pixel, used = c.converted_per_pixel();
  float* dst = out.data();
  for (std::uint32_t r = 0; r < c.height; ++r) {
    const std::uint8_t* row = c.bytes.data() + r * row_bytes;
    for (std::uint64_t x = 0; x < c.width; ++x) {
      std::uint64_t bit = x * k * bits;
      for (std::uint64_t j = 0; j < used; ++j, bit += bits) {
        if (bits <= 16) {
          *dst++ = static_cast<float>(packed_sample(row, bit, bits));
          continue;
        }
        std::uint64_t v = 0;
        for (unsigned b = 0; b < bits; ++b) {
          const std::uint64_t at = bit + b;
          v = (v << 1) | ((row[at >> 3] >> (7 - (at & 7))) & 1u);
        }
        *dst++ = static_cast<float>(v);
      }
    }
  }
  return {};
}

}  // namespace

SampleKind sample_kind(const RasterLayout& l) {
  const unsigned bits = l.bits_per_sample;
  if (l.sample_format == 3) return bits == 16 ? SampleKind::f16 : bits == 64 ? SampleKind::f64 : SampleKind::f32;
  if (l.sample_format == 2) {
    return bits == 8 ? SampleKind::i8 : bits == 16 ? SampleKind::i16 : bits == 64 ? SampleKind::i64 : SampleKind::i32;
  }
  switch (bits) {
    case 8: return SampleKind::u8;
    case 16: return SampleKind::u16;
    case 32: return SampleKind::u32;
    case 64: return SampleKind::u64;
    default: return SampleKind::packed;
  }
}

float half_to_float(std::uint16_t h) {
  const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
  const std::uint32_t exponent = (h >> 10) & 0x1Fu;
  std::uint32_t mantissa = h & 0x3FFu;
  std::uint32_t bits;
  if (exponent == 0x1F) {
    bits = sign | 0x7F800000u | (mantissa << 13);  // infinity or NaN
  } else if (exponent != 0) {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  } else if (mantissa == 0) {
    bits = sign;
  } else {
    // Subnormal: shift until the leading one becomes the implicit bit.
    std::uint32_t e = 113;
    while ((mantissa & 0x400u) == 0) {
      mantissa <<= 1;
      --e;
    }
    bits = sign | (e << 23) | ((mantissa & 0x3FFu) << 13);
  }
  return std::bit_cast<float>(bits);
}

std::expected<void, std::string> check_chunk_size(const ChunkData& c) {
  const std::uint64_t expected = c.samples_per_pixel * c.width * c.height;
  if (expected == 0) return {};
  if (c.kind == SampleKind::packed) {
    const unsigned bits = c.bits_per_sample;
    const std::uint64_t row_bytes = (bits * c.samples_per_pixel * c.stored_width + 7) / 8;
    const std::uint64_t required = row_bytes * c.height;
    if (c.bytes.size() < required) {
      return std::unexpected("packed chunk has " + std::to_string(c.bytes.size()) + " bytes, expected " +
                             std::to_string(required) + " (" + std::to_string(bits) + "-bit)");
    }
    return {};
  }
  const std::uint64_t row_elements = c.samples_per_pixel * c.stored_width;
  // The data of the last row ends after `width` pixels; the stored padding
  // beyond it need not be there.
  const std::uint64_t needed = row_elements * (c.height - 1) + c.samples_per_pixel * c.width;
  const std::uint64_t have = c.bytes.size() / element_size(c.kind);
  if (have < needed) {
    return std::unexpected("chunk has " + std::to_string(have) + " samples, expected " + std::to_string(expected));
  }
  return {};
}

std::expected<void, std::string> convert_chunk(const ChunkData& c, std::vector<float>& out) {
  const std::uint64_t expected = c.converted_per_pixel() * c.width * c.height;
  if (auto ok = check_chunk_size(c); !ok) return ok;
  out.resize(static_cast<std::size_t>(expected));
  if (expected == 0) return {};
  if (c.kind == SampleKind::packed) return convert_packed(c, out);
  const std::uint64_t row_elements = c.samples_per_pixel * c.stored_width;
  float* dst = out.data();
  switch (c.kind) {
    case SampleKind::u8: convert_rows<std::uint8_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::u16: convert_rows<std::uint16_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::u32: convert_rows<std::uint32_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::u64: convert_rows<std::uint64_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::i8: convert_rows<std::int8_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::i16: convert_rows<std::int16_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::i32: convert_rows<std::int32_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::i64: convert_rows<std::int64_t>(c, row_elements, dst, [](auto v) { return float(v); }); break;
    case SampleKind::f16: convert_rows<std::uint16_t>(c, row_elements, dst, half_to_float); break;
    case SampleKind::f32: convert_rows<float>(c, row_elements, dst, [](float v) { return v; }); break;
    case SampleKind::f64: convert_rows<double>(c, row_elements, dst, [](double v) { return float(v); }); break;
    case SampleKind::packed: break;
  }
  return {};
}

}  // namespace brindle::tiff
