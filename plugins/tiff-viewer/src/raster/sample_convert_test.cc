#include "raster/sample_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace brindle::tiff {
namespace {

ChunkData chunk(std::span<const std::uint8_t> bytes, SampleKind kind, std::uint32_t stored, std::uint32_t w,
                std::uint32_t h, std::uint64_t k, std::uint8_t bits) {
  return {bytes, kind, stored, w, h, k, bits};
}

TEST(SampleConvertTest, HalfFloats) {
  EXPECT_EQ(half_to_float(0x3C00), 1.0f);
  EXPECT_EQ(half_to_float(0xC000), -2.0f);
  EXPECT_EQ(half_to_float(0x7BFF), 65504.0f);
  EXPECT_EQ(half_to_float(0x0001), std::ldexp(1.0f, -24));  // smallest subnormal
  EXPECT_EQ(half_to_float(0x03FF), std::ldexp(1023.0f, -24));  // largest subnormal
  EXPECT_EQ(half_to_float(0x7C00), INFINITY);
  EXPECT_EQ(half_to_float(0xFC00), -INFINITY);
  EXPECT_TRUE(std::isnan(half_to_float(0x7E00)));
  EXPECT_TRUE(std::signbit(half_to_float(0x8000)));
}

TEST(SampleConvertTest, PackedThreeBitSamplesCrossBytes) {
  // Samples 1 2 3 4 5 6 7 0: 001 010 011 100 101 110 111 000.
  const std::vector<std::uint8_t> row = {0b00101001, 0b11001011, 0b10111000, 0xFF};
  std::vector<float> out;
  ASSERT_TRUE(convert_chunk(chunk(row, SampleKind::packed, 8, 8, 1, 1, 3), out));
  EXPECT_EQ(out, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 0}));
  // Two rows of 3 samples: each row is padded to a whole byte (2 bytes).
  const std::vector<std::uint8_t> rows = {0b11100001, 0b00000000, 0b00101001, 0b10000000};
  ASSERT_TRUE(convert_chunk(chunk(rows, SampleKind::packed, 3, 3, 2, 1, 3), out));
  EXPECT_EQ(out, (std::vector<float>{7, 0, 2, 1, 2, 3}));
  // A 12-bit pair: 0xABC, 0x123.
  const std::vector<std::uint8_t> twelve = {0xAB, 0xC1, 0x23};
  ASSERT_TRUE(convert_chunk(chunk(twelve, SampleKind::packed, 2, 2, 1, 1, 12), out));
  EXPECT_EQ(out, (std::vector<float>{0xABC, 0x123}));
}

TEST(SampleConvertTest, WideKindsAndCropping) {
  // A 3x2 tile stored 4 pixels wide: the padding column is cropped.
  const std::vector<std::int16_t> tile = {-5, 6, 7, 99, 8, -32768, 10, 99};
  std::vector<std::uint8_t> bytes(tile.size() * 2);
  std::memcpy(bytes.data(), tile.data(), bytes.size());
  std::vector<float> out;
  ASSERT_TRUE(convert_chunk(chunk(bytes, SampleKind::i16, 4, 3, 2, 1, 16), out));
  EXPECT_EQ(out, (std::vector<float>{-5, 6, 7, 8, -32768, 10}));

  const std::vector<double> doubles = {1e300, -0.5};
  bytes.resize(16);
  std::memcpy(bytes.data(), doubles.data(), 16);
  ASSERT_TRUE(convert_chunk(chunk(bytes, SampleKind::f64, 2, 2, 1, 1, 64), out));
  EXPECT_EQ(out, (std::vector<float>{INFINITY, -0.5f}));

  const std::uint64_t big = 18446744073709551615ull;
  bytes.resize(8);
  std::memcpy(bytes.data(), &big, 8);
  ASSERT_TRUE(convert_chunk(chunk(bytes, SampleKind::u64, 1, 1, 1, 1, 64), out));
  EXPECT_EQ(out[0], 18446744073709551616.0f);
}

TEST(SampleConvertTest, OnlyTheUsedSamplesOfEachPixel) {
  // Two pixels of four 8-bit samples, the first two used.
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  auto c = chunk(bytes, SampleKind::u8, 2, 2, 1, 4, 8);
  c.used_samples = 2;
  std::vector<float> out;
  ASSERT_TRUE(convert_chunk(c, out));
  EXPECT_EQ(out, (std::vector<float>{1, 2, 5, 6}));
  // Two rows of two 1-bit pixels with three samples each (rows padded to a
  // byte): 101 011 | 110 000, first sample used.
  const std::vector<std::uint8_t> packed = {0b10101100, 0b11000000};
  auto p = chunk(packed, SampleKind::packed, 2, 2, 2, 3, 1);
  p.used_samples = 1;
  ASSERT_TRUE(convert_chunk(p, out));
  EXPECT_EQ(out, (std::vector<float>{1, 0, 1, 0}));
}

TEST(SampleConvertTest, ShortChunksFail) {
  const std::vector<std::uint8_t> five(5, 0);
  std::vector<float> out;
  EXPECT_EQ(convert_chunk(chunk(five, SampleKind::u8, 3, 3, 2, 1, 8), out).error(), "chunk has 5 samples, expected 6");
  EXPECT_EQ(convert_chunk(chunk(five, SampleKind::u16, 2, 2, 1, 3, 16), out).error(),
            "chunk has 2 samples, expected 6");
  // 10 samples of 3 bits per row take 4 bytes; two rows need 8.
  EXPECT_EQ(convert_chunk(chunk(five, SampleKind::packed, 10, 10, 2, 1, 3), out).error(),
            "packed chunk has 5 bytes, expected 8 (3-bit)");
}

}  // namespace
}  // namespace brindle::tiff
