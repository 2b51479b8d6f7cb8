#include "doc/level_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

TEST(LevelTableTest, SortsStoredBeforeSynthesizedOfTheSamePixelCount) {
  // 1024x256 at factor 2 gives 512x128, the same pixel count as the stored
  // 256x256 of the sidecar; the stored image comes first.
  const auto table = build_level_table({{0, 1024, 256, false}, {0, 256, 256, true}});
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table[0], (TiffLevel{0, 256, 64, 4, false}));
  EXPECT_EQ(table[1], (TiffLevel{0, 256, 256, 1, true}));
  EXPECT_EQ(table[2], (TiffLevel{0, 512, 128, 2, false}));
  EXPECT_EQ(table[3], (TiffLevel{0, 1024, 256, 1, false}));
}

TEST(LevelTableTest, ExtremeSizesTerminate) {
  const auto table = build_level_table({{0, 0xFFFFFFFFu, 1, false}});
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(table.back().width, 0xFFFFFFFFu);
  EXPECT_EQ(table.front().width, 256u);  // 2^32 - 1 over 2^24, rounded up
  EXPECT_TRUE(build_level_table({}).empty());
}

TEST(LevelTableTest, CapTexts) {
  EXPECT_FALSE(level_cap_error(3, 4000, 2000));
  EXPECT_EQ(level_cap_error(3, 4000, 2001).value(), "level 3 is 4000\u00d72001 \u2014 fetch it with render_region");
  EXPECT_EQ(level_cap_error(0, 9000, 1000).value(), "level 0 is 9000\u00d71000 \u2014 fetch it with render_region");
  EXPECT_FALSE(region_cap_error(4000, 2000));
  EXPECT_EQ(region_cap_error(4000, 2001).value(), "region 4000\u00d72001 exceeds the render cap");
  EXPECT_TRUE(region_cap_error(0xFFFFFFFFu, 0xFFFFFFFFu));  // no 32-bit overflow
}

TEST(SidecarTest, OnlyARegularFileNamedWithOvrAppended) {
  testing::TempDir dir;
  const std::string a = dir / "a.tif";
  std::filesystem::create_directory(dir / "a.tif.ovr");
  EXPECT_FALSE(find_sidecar(a));
  EXPECT_FALSE(find_sidecar(dir / "b.tif"));
  std::ofstream(dir / "b.tif.ovr") << "x";
  EXPECT_EQ(find_sidecar(dir / "b.tif"), (dir / "b.tif.ovr").string());
  EXPECT_FALSE(find_sidecar(dir / "b")) << "the extension is appended, not replaced";
  std::filesystem::create_symlink(dir / "b.tif.ovr", dir / "c.tif.ovr");
  EXPECT_EQ(find_sidecar(dir / "c.tif"), (dir / "c.tif.ovr").string());
}

}  // namespace
}  // namespace brindle::tiff
