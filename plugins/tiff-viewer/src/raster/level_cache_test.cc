#include "raster/level_cache.h"

#include <gtest/gtest.h>

#include "plugin_protocol/image_payload.h"

namespace brindle::tiff {
namespace {

TEST(DownsampleTest, WeightsColoursByAlpha) {
  // Two opaque red pixels and two transparent green ones in one 2x2 block.
  const std::vector<std::uint8_t> block = {255, 0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255};
  RgbaImage out = downsample_rgba(block, 2, 2, 2);
  EXPECT_EQ(out.pixels, (std::vector<std::uint8_t>{255, 0, 0, 128}));
  const std::vector<std::uint8_t> clear(16, 0);
  EXPECT_EQ(downsample_rgba(clear, 2, 2, 2).pixels, (std::vector<std::uint8_t>{0, 0, 0, 0}));
  // 3x1 at ratio 2: the right block holds one pixel.
  const std::vector<std::uint8_t> row = {10, 10, 10, 255, 30, 30, 30, 255, 7, 8, 9, 100};
  out = downsample_rgba(row, 3, 1, 2);
  EXPECT_EQ(out.width, 2u);
  EXPECT_EQ(out.height, 1u);
  EXPECT_EQ(out.pixels, (std::vector<std::uint8_t>{20, 20, 20, 255, 7, 8, 9, 100}));
}

// A fresh render of a uniform image of the level's size.
struct FakeRenderer {
  int calls = 0;
  FreshRender for_level(const TiffLevel& level) {
    return [this, level]() -> std::expected<RenderedRaster, std::string> {
      ++calls;
      RenderedRaster r;
      r.width = level.width;
      r.height = level.height;
      r.channels = 1;
      r.bit_depth = 8;
      r.image = encode_single_frame(1, 8, level.width, level.height,
                                    std::vector<std::uint8_t>(std::size_t{level.width} * level.height * 4, 200));
      r.band_ranges = {{0, static_cast<float>(calls)}};
      return r;
    };
  }
};

TEST(ProduceLevelTest, CacheRules) {
  const TiffLevel full{0, 40, 40, 1, false}, quarter{0, 10, 10, 4, false}, half{0, 20, 20, 2, false};
  const TiffLevel other_half{1, 20, 20, 2, false}, sidecar_full{0, 40, 40, 1, true};
  LevelState state;
  FakeRenderer fake;
  ASSERT_TRUE(produce_level(full, state, fake.for_level(full)));
  auto q = produce_level(quarter, state, fake.for_level(quarter));
  ASSERT_TRUE(q);
  EXPECT_EQ(fake.calls, 1) << "factor 4 comes from the factor-1 raster";
  EXPECT_EQ(q->width, 10u);
  EXPECT_EQ(state.cache->factor, 1u);

  ASSERT_TRUE(produce_level(other_half, state, fake.for_level(other_half)));
  EXPECT_EQ(fake.calls, 2);
  EXPECT_EQ(state.cache->ifd, 1u) << "another IFD replaces the cache";
  EXPECT_EQ(state.kept_ranges, (std::vector<BandRange>{{0, 2}}));

  ASSERT_TRUE(produce_level(sidecar_full, state, fake.for_level(sidecar_full)));
  ASSERT_TRUE(produce_level(full, state, fake.for_level(full)));
  EXPECT_EQ(fake.calls, 4) << "the sidecar's IFD 0 is not the main file's";

  // A coarser fresh render of the cached image keeps the finer raster.
  ASSERT_TRUE(produce_level(half, state, [&]() -> std::expected<RenderedRaster, std::string> {
    return std::unexpected(std::string("must come from the cache"));
  }));
  const TiffLevel odd{0, 13, 13, 3, false};  // 40 / 3 rounds differently: rendered fresh
  ASSERT_TRUE(produce_level(odd, state, fake.for_level(odd)));
  EXPECT_EQ(state.cache->factor, 1u);
  EXPECT_EQ(fake.calls, 5);

  // A failure changes nothing.
  const auto ranges = state.kept_ranges;
  auto failed = produce_level(other_half, state, [] { return std::expected<RenderedRaster, std::string>(
                                                          std::unexpected(std::string("chunk 3: broken"))); });
  EXPECT_EQ(failed.error(), "chunk 3: broken");
  EXPECT_EQ(state.kept_ranges, ranges);
  EXPECT_EQ(state.cache->ifd, 0u);
}

}  // namespace
}  // namespace brindle::tiff
