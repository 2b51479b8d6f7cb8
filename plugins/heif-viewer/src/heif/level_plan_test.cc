#include "heif/level_plan.h"

#include <gtest/gtest.h>

namespace brindle::heif {
namespace {

struct PlanCase {
  std::uint32_t width, height;
  std::vector<std::uint32_t> levels;
};

TEST(PlanLevels, KnownSizes) {
  const std::vector<std::uint32_t> strip = {305,   610,    1220,   2441,   4882,    9765,    19531,
                                            39062, 78125, 156250, 312500, 625000, 1250000, 2500000, 5000000};
  const PlanCase cases[] = {
      // 20M and 10M are over the budget even with the short side at 1.
      {1, 20'000'000, strip},
      {20'000'000, 1, strip},
      // The full 12.2-megapixel size is left out.
      {4032, 3024, {504, 1008, 2016}},
      {3024, 4032, {504, 1008, 2016}},
      {1000, 800, {500, 1000}},
      {300, 200, {300}},
      {511, 511, {511}},
      {512, 512, {256, 512}},
      {1, 1, {1}},
      {0, 0, {1}},
      // Exactly the budget fits: 4000 × 2000 = 8,000,000.
      {4000, 2000, {500, 1000, 2000, 4000}},
      {4001, 2000, {500, 1000, 2000}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plan_levels(c.width, c.height), c.levels) << c.width << "x" << c.height;
  }
}

TEST(PlanLevels, EveryLevelFitsTheBudget) {
  for (auto [w, h] : {std::pair{1u, 20'000'000u}, {65535u, 65535u}, {4294967295u, 3u}, {100000u, 99999u}}) {
    const auto levels = plan_levels(w, h);
    ASSERT_FALSE(levels.empty());
    for (std::size_t i = 0; i < levels.size(); ++i) {
      const LevelSize s = level_size(w, h, levels[i]);
      EXPECT_LE(static_cast<double>(s.width) * s.height, PIXEL_BUDGET) << w << "x" << h << " level " << i;
      if (i > 0) {
        EXPECT_GT(levels[i], levels[i - 1]);
      }
    }
  }
}

TEST(LevelSize, RoundsHalfAwayAndNeverZero) {
  struct Case {
    std::uint32_t w, h, side, lw, lh;
  } cases[] = {
      {4032, 3024, 504, 504, 378},  {3024, 4032, 504, 378, 504}, {4032, 3024, 2016, 2016, 1512},
      {1, 20'000'000, 5'000'000, 1, 5'000'000},                  // 0.25 → 0 → raised to 1
      {3, 2, 3, 3, 2},              {5, 3, 2, 2, 1},             // 1.2 → 1
      {4, 3, 2, 2, 2},                                           // 1.5 → 2
      {0, 0, 1, 1, 1},
  };
  for (const auto& c : cases) {
    const LevelSize s = level_size(c.w, c.h, c.side);
    EXPECT_EQ(s.width, c.lw) << c.w << "x" << c.h << "@" << c.side;
    EXPECT_EQ(s.height, c.lh) << c.w << "x" << c.h << "@" << c.side;
  }
}

std::uint32_t u32_at(const Payload& p, std::size_t at) {
  return p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | (static_cast<std::uint32_t>(p[at + 3]) << 24);
}

TEST(LevelTablePayload, FramesAscendWithoutPixels) {
  const std::vector<std::uint32_t> levels = {504, 1008, 2016};
  const Payload p = level_table_payload(4032, 3024, levels);
  ASSERT_EQ(p.size(), IMAGE_HEADER_SIZE + 3 * IMAGE_FRAME_HEADER_SIZE);
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin(), p.begin() + 5), (std::vector<std::uint8_t>{0xFF, 'I', 'M', 'G', 4}));
  EXPECT_EQ(u32_at(p, 5), 2016u);
  EXPECT_EQ(u32_at(p, 9), 1512u);
  EXPECT_EQ(p[13], 3);  // channels, whatever the source's alpha
  EXPECT_EQ(p[14], 8);
  EXPECT_EQ(u32_at(p, 15), 3u);
  const std::uint32_t expected[3][2] = {{504, 378}, {1008, 756}, {2016, 1512}};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t at = IMAGE_HEADER_SIZE + i * IMAGE_FRAME_HEADER_SIZE;
    EXPECT_EQ(u32_at(p, at), 0u);
    EXPECT_EQ(u32_at(p, at + 4), expected[i][0]);
    EXPECT_EQ(u32_at(p, at + 8), expected[i][1]);
  }
}

}  // namespace
}  // namespace brindle::heif
