#include "raster/accumulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brindle::tiff {
namespace {

TEST(ByteRoundingTest, HalvesAwayFromZeroThenClamp) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<std::pair<float, int>> cases = {
      {0.5f, 1},   {1.5f, 2},       {2.5f, 3},   {127.49999f, 127}, {127.5f, 128}, {254.5f, 255},
      {254.49f, 254}, {255.4f, 255}, {300, 255},  {-0.5f, 0},        {-7, 0},       {nan, 0},
      {inf, 255},  {-inf, 0},       {0.49999997f, 0}};
  for (const auto& [x, expected] : cases) EXPECT_EQ(to_byte(x), expected) << x;
}

TEST(BandMappingTest, LinearScalesAndStretchRanges) {
  RasterLayout l;
  l.bits_per_sample = 4;
  auto m = band_mappings(l, {{0, 0}}, {});
  EXPECT_EQ(m[0].kind, BandMapping::Kind::Linear);
  EXPECT_EQ(map_to_byte(m[0], 7), 119);
  l.bits_per_sample = 16;
  m = band_mappings(l, {{1000, 3000}}, {});
  EXPECT_EQ(m[0].kind, BandMapping::Kind::Stretch);
  EXPECT_EQ(map_to_byte(m[0], 2000), 128);
  // Statistics override the range but only when max > min.
  m = band_mappings(l, {{1000, 3000}}, {BandStats{0, 4000}});
  EXPECT_EQ(map_to_byte(m[0], 2000), 128);
  EXPECT_EQ(map_to_byte(m[0], 4000), 255);
  m = band_mappings(l, {{1000, 3000}}, {BandStats{5, 5}});
  EXPECT_EQ(map_to_byte(m[0], 1000), 0);
  m = band_mappings(l, {{7, 7}}, {});
  EXPECT_EQ(map_to_byte(m[0], 7), 128);
  l.color_map = std::vector<std::uint16_t>(3 * 65536, 0);
  EXPECT_EQ(map_to_byte(band_mappings(l, {{0, 0}, {0, 0}, {0, 0}}, {})[0], 65535), 255);
}

}  // namespace
}  // namespace brindle::tiff
