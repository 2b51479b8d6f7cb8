// render_level and render_region through the viewer: caps, the level
// cache, shared band ranges and hostile files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include "main/tiff_viewer.h"
#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using testing::as_bytes;
using testing::deflate_grey;
using testing::IfdFixture;
using testing::TempDir;


struct Frame {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
};

Frame frame(const ViewerResult& r) {
  EXPECT_TRUE(r) << r.error().message;
  if (!r) return {};
  const auto& p = *r;
  auto u32 = [&](std::size_t at) {
    return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | static_cast<std::uint32_t>(p[at + 3]) << 24;
  };
  EXPECT_EQ(p[4], 0);
  EXPECT_EQ(u32(15), 1u);
  Frame f{u32(23), u32(27), std::vector<std::uint8_t>(p.begin() + 31, p.end())};
  EXPECT_EQ(f.rgba.size(), std::size_t{f.width} * f.height * 4);
  return f;
}

TiffViewer open_viewer(const std::filesystem::path& path) {
  TiffViewer viewer;
  auto table = viewer.render(RenderSource::from_path(path));
  EXPECT_TRUE(table) << table.error().message;
  return viewer;
}

TEST(TiffViewerLevelTest, LevelNumbersAndCaps) {
  TempDir dir;
  testing::write_tiff(dir / "fits.tif", {deflate_grey(4000, 2000)});
  testing::write_tiff(dir / "over.tif", {deflate_grey(4000, 2001)});
  testing::write_tiff(dir / "wide.tif", {deflate_grey(9000, 1000)});

  TiffViewer viewer = open_viewer(dir / "fits.tif");
  const auto top = static_cast<std::uint32_t>(viewer.doc()->levels.size() - 1);
  const Frame f = frame(viewer.render_level(top));
  EXPECT_EQ(f.width, 4000u);
  EXPECT_EQ(f.height, 2000u);
  EXPECT_EQ(viewer.render_level(top + 1).error(),
            (PluginError{ErrorCode::not_found, "no level " + std::to_string(top + 1)}));
  EXPECT_EQ(viewer.render_region(top + 1, 0, 0, 1, 1).error().code, ErrorCode::not_found);

  viewer = open_viewer(dir / "over.tif");
  ASSERT_EQ(viewer.doc()->levels.size(), 4u);
  EXPECT_EQ(viewer.render_level(3).error(),
            (PluginError{ErrorCode::too_large, "level 3 is 4000\u00d72001 \u2014 fetch it with render_region"}));
  EXPECT_EQ(viewer.render_region(3, 0, 0, 4000, 2001).error(),
            (PluginError{ErrorCode::too_large, "region 4000\u00d72001 exceeds the render cap"}));
  EXPECT_EQ(frame(viewer.render_region(3, 0, 0, 4000, 2000)).height, 2000u);
  EXPECT_FALSE(viewer.level_state().cache) << "refusals and regions leave the cache alone";

  viewer = open_viewer(dir / "wide.tif");
  const auto wide = static_cast<std::uint32_t>(viewer.doc()->levels.size() - 1);
  EXPECT_EQ(viewer.render_level(wide).error().code, ErrorCode::too_large);
  const Frame w = frame(viewer.render_region(wide, 6000, 0, 3000, 1000));
  EXPECT_EQ(w.width, 3000u);
  EXPECT_EQ(w.height, 1000u);
  EXPECT_EQ(frame(viewer.render_region(wide, 8990, 995, 64, 64)).width, 10u);
  EXPECT_EQ(viewer.render_region(wide, 9000, 0, 1, 1).error(),
            (PluginError{ErrorCode::failed, "window Window { x: 9000, y: 0, width: 1, height: 1 } outside level "
                                            "9000\u00d71000"}));
}

TEST(TiffViewerLevelTest, FetchingLargeToSmallDecodesOnce) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {deflate_grey(2000, 2000)});
  {
    TiffViewer viewer = open_viewer(dir / "a.tif");
    ASSERT_EQ(viewer.doc()->levels.size(), 3u);  // 500, 1000, 2000
    for (std::uint32_t level : {2u, 1u, 0u, 2u}) EXPECT_EQ(frame(viewer.render_level(level)).width, 2000u >> (2 - level));
    EXPECT_EQ(viewer.decode_count(), 1u);
    EXPECT_EQ(viewer.level_state().cache->factor, 1u);
  }
  {
    TiffViewer viewer = open_viewer(dir / "a.tif");
    for (std::uint32_t level : {0u, 1u, 2u}) frame(viewer.render_level(level));
    EXPECT_EQ(viewer.decode_count(), 3u);
    EXPECT_EQ(viewer.level_state().cache->factor, 1u);
  }
}

TEST(TiffViewerLevelTest, SidecarAndMainNeverShareTheCache) {
  TempDir dir;
  IfdFixture main = deflate_grey(600, 600);
  main.data.assign(600 * 600, 10);
  IfdFixture ovr = main;
  ovr.data.assign(600 * 600, 200);
  testing::write_tiff(dir / "a.tif", {main});
  testing::write_tiff(dir / "a.tif.ovr", {ovr});
  TiffViewer viewer = open_viewer(dir / "a.tif");
  const auto& levels = viewer.doc()->levels;
  ASSERT_EQ(levels.size(), 3u);  // 300 (f2), then the two 600 images
  for (std::uint32_t i : {1u, 2u}) {
    const Frame f = frame(viewer.render_level(i));
    EXPECT_EQ(f.rgba[0], levels[i].sidecar ? 200 : 10);
  }
  EXPECT_EQ(viewer.decode_count(), 2u);
}

TEST(TiffViewerLevelTest, RegionsShareTheStretchOfTheLastLevel) {
  TempDir dir;
  std::vector<std::uint16_t> v(512 * 256);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = (i % 512) < 256 ? 1000 : 3000;
  IfdFixture s = deflate_grey(512, 256, 16);
  s.data = as_bytes(v);
  testing::write_tiff(dir / "a.tif", {s});
  TiffViewer viewer = open_viewer(dir / "a.tif");
  // Before any level: each region stretches on its own (constant: 128).
  EXPECT_EQ(frame(viewer.render_region(1, 0, 0, 64, 64)).rgba[0], 128);
  EXPECT_EQ(frame(viewer.render_region(1, 300, 0, 64, 64)).rgba[0], 128);
  EXPECT_FALSE(viewer.level_state().kept_ranges);

  frame(viewer.render_level(1));
  ASSERT_TRUE(viewer.level_state().kept_ranges);
  EXPECT_EQ(frame(viewer.render_region(1, 0, 0, 64, 64)).rgba[0], 0);
  EXPECT_EQ(frame(viewer.render_region(1, 300, 0, 64, 64)).rgba[0], 255);

  // A new document forgets both.
  ASSERT_TRUE(viewer.render(RenderSource::from_path(dir / "a.tif")));
  EXPECT_FALSE(viewer.level_state().kept_ranges);
  EXPECT_FALSE(viewer.level_state().cache);
}

TEST(TiffViewerLevelTest, FailedRendersKeepCacheAndRanges) {
  TempDir dir;
  std::vector<std::uint16_t> v(512 * 256);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint16_t>(i);
  IfdFixture full = deflate_grey(512, 256, 16);
  full.data = as_bytes(v);
  IfdFixture reduced = deflate_grey(300, 150, 16);
  reduced.subfile_type = FILETYPE_REDUCEDIMAGE;
  testing::write_tiff(dir / "a.tif", {full, reduced});
  auto bytes = testing::read_bytes(dir / "a.tif");
  // The reduced image's compressed data turns to garbage.
  const std::size_t data = testing::tag_value_offset(bytes, 1, TIFFTAG_STRIPOFFSETS);
  const std::size_t first = bytes[data] | bytes[data + 1] << 8 | bytes[data + 2] << 16;
  for (std::size_t i = first; i < first + 8; ++i) bytes[i] = 0xFF;

  TiffViewer viewer;
  ASSERT_TRUE(viewer.render(RenderSource::from_bytes(bytes)));
  const auto& levels = viewer.doc()->levels;
  ASSERT_EQ(levels.back().ifd, 0u);
  const auto top = static_cast<std::uint32_t>(levels.size() - 1);
  frame(viewer.render_level(top));
  const auto ranges = *viewer.level_state().kept_ranges;
  std::uint32_t broken = 0;
  while (levels[broken].ifd != 1) ++broken;
  const auto failed = viewer.render_level(broken);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().code, ErrorCode::failed);
  EXPECT_TRUE(failed.error().message.starts_with("chunk 0: ")) << failed.error().message;
  EXPECT_EQ(viewer.level_state().kept_ranges, ranges);
  EXPECT_EQ(viewer.level_state().cache->ifd, 0u);
  EXPECT_EQ(viewer.decode_count(), 2u);
  frame(viewer.render_level(top));
  EXPECT_EQ(viewer.decode_count(), 2u) << "still served from the cache";
}

TEST(TiffViewerLevelTest, HostileFilesFailAndTheViewerGoesOn) {
  TempDir dir;
  IfdFixture tiled = deflate_grey(16, 16);
  tiled.tile_width = tiled.tile_height = 16;
  testing::write_tiff(dir / "tile.tif", {tiled});
  IfdFixture plain = deflate_grey(64, 64);
  plain.compression = COMPRESSION_NONE;
  plain.rows_per_strip = 16;
  testing::write_tiff(dir / "plain.tif", {plain});
  const auto tile = testing::read_bytes(dir / "tile.tif");
  const auto strips = testing::read_bytes(dir / "plain.tif");

  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  {
    auto b = tile;  // one tile claiming 65520 x 65520 bytes decompressed
    for (auto tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_TILEWIDTH, TIFFTAG_TILELENGTH}) {
      testing::set_inline_tag(b, 0, tag, 65520);
    }
    cases.push_back({"huge tile", b});
  }
  {
    auto b = tile;  // 4 billion squared with its one small tile
    testing::set_inline_tag(b, 0, TIFFTAG_IMAGEWIDTH, 4000000000u);
    testing::set_inline_tag(b, 0, TIFFTAG_IMAGELENGTH, 4000000000u);
    cases.push_back({"4 billion squared", b});
  }
  {
    auto b = strips;  // the last strip runs past the end of the file
    const std::size_t counts = testing::tag_value_offset(b, 0, TIFFTAG_STRIPBYTECOUNTS);
    for (int i = 0; i < 4; ++i) b[counts + 12 + i] = 0x7F;
    cases.push_back({"truncated strip", b});
  }
  {
    auto b = strips;  // claims 64 strips, has 4
    testing::set_inline_tag(b, 0, TIFFTAG_ROWSPERSTRIP, 1);
    cases.push_back({"strip count mismatch", b});
  }
  {
    auto b = strips;
    b.resize(b.size() - 200);  // cut through the image file directory
    cases.push_back({"truncated file", b});
  }

  TiffViewer viewer = open_viewer(dir / "plain.tif");
  for (const auto& c : cases) {
    auto table = viewer.render(RenderSource::from_bytes(c.bytes));
    if (table) {
      // The document opens; every level must fail or render, never crash.
      const auto n = static_cast<std::uint32_t>(viewer.doc()->levels.size());
      bool any_failed = false;
      for (std::uint32_t level = 0; level < n; ++level) {
        auto r = viewer.render_level(level);
        if (!r && r.error().code == ErrorCode::too_large) r = viewer.render_region(level, 0, 0, 256, 256);
        any_failed |= !r.has_value();
      }
      EXPECT_TRUE(any_failed) << c.name;
    }
    // The viewer still serves a sound file.
    ASSERT_TRUE(viewer.render(RenderSource::from_path(dir / "plain.tif"))) << c.name;
    EXPECT_EQ(frame(viewer.render_level(0)).width, 64u) << c.name;
  }
}

}  // namespace
}  // namespace brindle::tiff
