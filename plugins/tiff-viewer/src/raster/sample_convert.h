// Conversion of one decoded chunk (strip or tile) into 32-bit floats, one per
// sample, whatever the element kind: unsigned and signed 8 to 64-bit
// integers, binary16/32/64 floats, and unsigned samples packed below or
// between whole bytes (most significant bit first, rows padded to a byte).
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "raster/raster_layout.h"

namespace brindle::tiff {

enum class SampleKind { u8, u16, u32, u64, i8, i16, i32, i64, f16, f32, f64, packed };

// The element kind the decoder hands back for this layout.
SampleKind sample_kind(const RasterLayout& layout);

// One decoded chunk as the decoder left it: rows of `stored_width` pixels
// (a tile's full width; the image width for a strip) in native byte order,
// of which the first `width` pixels of the first `height` rows hold data.
struct ChunkData {
  std::span<const std::uint8_t> bytes;
  SampleKind kind = SampleKind::u8;
  std::uint32_t stored_width = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint64_t samples_per_pixel = 1;  // of the chunk: 1 for a plane
  std::uint8_t bits_per_sample = 8;
  // Only the first `used_samples` of each pixel are converted (0: all); the
  // others cannot change the picture, and a file may declare thousands.
  std::uint64_t used_samples = 0;

  std::uint64_t converted_per_pixel() const {
    return used_samples != 0 && used_samples < samples_per_pixel ? used_samples : samples_per_pixel;
  }
};

// Writes converted_per_pixel() * width * height floats, row-major, into `out`
// (resized). Errors: "packed chunk has {} bytes, expected {} ({}-bit)" and
// "chunk has {} samples, expected {}".
std::expected<void, std::string> convert_chunk(const ChunkData& chunk, std::vector<float>& out);

// The size check of convert_chunk alone, for callers that read the
// elements in place: the same error texts.
std::expected<void, std::string> check_chunk_size(const ChunkData& chunk);

// Unpacks samples [first, last) of a row of packed `bits`-bit samples (1 to
// 16, most significant bit first) into out[first, last). The caller
// guarantees the row holds them.
void unpack_samples(const std::uint8_t* row, unsigned bits, std::uint64_t first, std::uint64_t last,
                    std::uint16_t* out);

// Unpacks the first `used` samples of pixels [first, last) of a row of
// packed pixels of `samples_per_pixel` samples each (bits as above) into
// out[x * used + j]. The caller guarantees the row holds them.
void unpack_pixels(const std::uint8_t* row, unsigned bits, std::uint64_t samples_per_pixel, std::uint64_t used,
                   std::uint64_t first, std::uint64_t last, std::uint16_t* out);

// The byte size of one element of a whole-byte kind (1 for packed).
std::size_t element_size(SampleKind kind);

// IEEE 754 binary16 to binary32, subnormals, infinities and NaN included.
float half_to_float(std::uint16_t half);

}  // namespace brindle::tiff
