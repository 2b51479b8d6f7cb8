#include "heif/box_resample.h"

#include <gtest/gtest.h>

#include "testing/heic_fixtures.h"

namespace brindle::heif {
namespace {

using testing::Raster;
using Bytes = std::vector<std::uint8_t>;

PixelSource view(const Raster& r) {
  return PixelSource{r.bytes, static_cast<std::size_t>(r.width) * r.channels, r.channels, r.width, r.height};
}

TEST(BoxResample, HalvesRoundUpAndAlphaIsAveraged) {
  // Two RGBA pixels side by side reduced to one: (0+1)/2 rounds to 1,
  // (10+13)/2 = 11.5 rounds to 12, alpha 0 and 255 give 128.
  const Bytes src = {0, 10, 200, 0, 1, 13, 201, 255};
  auto out = box_resample(PixelSource{src, 8, 4, 2, 1}, 1, 1);
  ASSERT_TRUE(out) << out.error();
  EXPECT_EQ(*out, (Bytes{1, 12, 201, 128}));
}

TEST(BoxResample, RgbGainsOpaqueAlpha) {
  const Bytes src = {0, 0, 0, 1, 2, 3, 10, 20, 30, 11, 21, 31};  // 2 × 2 RGB
  auto same = box_resample(PixelSource{src, 6, 3, 2, 2}, 2, 2);
  ASSERT_TRUE(same) << same.error();
  EXPECT_EQ(*same, (Bytes{0, 0, 0, 255, 1, 2, 3, 255, 10, 20, 30, 255, 11, 21, 31, 255}));
  auto one = box_resample(PixelSource{src, 6, 3, 2, 2}, 1, 1);
  ASSERT_TRUE(one) << one.error();
  EXPECT_EQ(*one, (Bytes{6, 11, 16, 255}));  // 22/4 = 5.5 → 6, 42/4 = 10.5 → 11, 64/4 = 16
}

TEST(BoxResample, MatchesReferenceOnUnevenWindows) {
  struct Case {
    std::uint32_t sw, sh, tw, th;
    unsigned channels;
  } cases[] = {
      {7, 5, 3, 2, 3},   {7, 5, 3, 2, 4},     {101, 37, 10, 9, 4}, {64, 64, 64, 64, 4}, {1000, 3, 7, 1, 3},
      {3, 1000, 1, 7, 4}, {255, 255, 128, 128, 3}, {9, 9, 4, 4, 4},
      // Exact halvings.
      {10, 6, 5, 3, 3},  {8, 4, 4, 2, 4},     {2, 2, 1, 1, 3},
      // Enlarging is never requested, but it must stay well-defined.
      {3, 2, 7, 5, 4},
  };
  for (const auto& c : cases) {
    const Raster src = testing::make_pattern(c.sw, c.sh, c.channels);
    auto out = box_resample(view(src), c.tw, c.th);
    ASSERT_TRUE(out) << out.error();
    EXPECT_EQ(*out, testing::reference_box(src, c.tw, c.th).bytes)
        << c.sw << "x" << c.sh << " -> " << c.tw << "x" << c.th << " ch " << c.channels;
  }
}

TEST(BoxResample, HonoursRowStride) {
  // 2 × 2 RGB with two bytes of row padding that must never be read.
  const Bytes src = {1, 2, 3, 4, 5, 6, 99, 99, 7, 8, 9, 10, 11, 12};
  auto out = box_resample(PixelSource{src, 8, 3, 2, 2}, 2, 2);
  ASSERT_TRUE(out) << out.error();
  EXPECT_EQ(*out, (Bytes{1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}));
  auto halved = box_resample(PixelSource{src, 8, 3, 2, 2}, 1, 1);
  ASSERT_TRUE(halved) << halved.error();
  EXPECT_EQ(*halved, (Bytes{6, 7, 8, 255}));  // 22/4, 26/4, 30/4 rounded
}

TEST(BoxResample, LargeWindowsDivideExactly) {
  // Windows past the fast reciprocal (n ≥ 2^24), and one whose column sums
  // no longer fit 32 bits (more than 16,843,009 rows of 255).
  const struct {
    std::uint32_t sw, sh, tw, th;
  } cases[] = {{5000, 4000, 1, 1}, {5000, 4000, 3, 2}, {1, 16'843'010, 1, 1}, {1, 16'843'010, 1, 3}};
  for (const auto& c : cases) {
    Raster src{c.sw, c.sh, 3, Bytes(static_cast<std::size_t>(c.sw) * c.sh * 3, 255)};
    src.bytes[0] = 0;
    src.bytes[src.bytes.size() - 1] = 17;
    auto out = box_resample(view(src), c.tw, c.th);
    ASSERT_TRUE(out) << out.error();
    EXPECT_EQ(*out, testing::reference_box(src, c.tw, c.th).bytes)
        << c.sw << "x" << c.sh << " -> " << c.tw << "x" << c.th;
  }
}

TEST(BoxResample, RejectsMalformedRequests) {
  const Bytes src(12, 7);
  const struct {
    PixelSource src;
    std::uint32_t tw, th;
  } cases[] = {
      {{src, 6, 2, 2, 2}, 1, 1},   // two channels
      {{src, 6, 3, 0, 2}, 1, 1},   // empty source
      {{src, 6, 3, 2, 2}, 0, 1},   // empty target
      {{src, 5, 3, 2, 2}, 1, 1},   // stride shorter than a row
      {{src, 6, 3, 2, 3}, 1, 1},   // more rows than bytes
      {{src, 8, 3, 2, 2}, 1, 1},   // stride runs past the end
  };
  for (const auto& c : cases) EXPECT_FALSE(box_resample(c.src, c.tw, c.th));
  Bytes small(3);
  EXPECT_FALSE(box_resample_into(PixelSource{src, 6, 3, 2, 2}, 1, 1, small));
}

}  // namespace
}  // namespace brindle::heif
