#include "main/tiff_viewer.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using testing::deflate_grey;
using testing::IfdFixture;
using testing::TempDir;

std::uint32_t u32(const Payload& p, std::size_t at) {
  return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | static_cast<std::uint32_t>(p[at + 3]) << 24;
}

struct Header {
  std::uint8_t flags, channels, bit_depth;
  std::uint32_t width, height, frames;
};

Header header(const Payload& p) {
  EXPECT_GE(p.size(), 19u);
  EXPECT_EQ(p[0], 0xFF);
  EXPECT_EQ(p[1], 'I');
  return {p[4], p[13], p[14], u32(p, 5), u32(p, 9), u32(p, 15)};
}


TEST(TiffViewerRenderTest, AnswersTheLevelTableByPathAndFromBytes) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {deflate_grey(1000, 300, 16)});
  // The sidecar's image is taller than any level of the main file.
  testing::write_tiff(dir / "a.tif.ovr", {deflate_grey(400, 900, 16)});

  TiffViewer viewer;
  auto table = viewer.render(RenderSource::from_path(dir / "a.tif"));
  ASSERT_TRUE(table) << table.error().message;
  Header h = header(*table);
  EXPECT_EQ(h.flags, 12);
  EXPECT_EQ(h.width, 1000u);
  EXPECT_EQ(h.height, 900u);
  EXPECT_EQ(h.channels, 1);
  EXPECT_EQ(h.bit_depth, 16);
  ASSERT_EQ(h.frames, 4u);
  ASSERT_EQ(table->size(), 19u + 12u * h.frames);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> frames;
  for (std::uint32_t i = 0; i < h.frames; ++i) {
    EXPECT_EQ(u32(*table, 19 + 12 * i), 0u);
    frames.emplace_back(u32(*table, 23 + 12 * i), u32(*table, 27 + 12 * i));
  }
  EXPECT_EQ(frames, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                        {500, 150}, {200, 450}, {1000, 300}, {400, 900}}));

  // From an input segment: no sidecar.
  auto bytes = testing::read_bytes(dir / "a.tif");
  table = viewer.render(RenderSource::from_bytes(bytes));
  ASSERT_TRUE(table) << table.error().message;
  h = header(*table);
  EXPECT_EQ(h.frames, 2u);
  EXPECT_EQ(h.height, 300u);
}

TEST(TiffViewerRenderTest, SourceDescription) {
  struct Case {
    IfdFixture ifd;
    std::uint8_t channels, bit_depth;
  };
  IfdFixture rgba = deflate_grey(4, 4);
  rgba.samples_per_pixel = 4;
  rgba.photometric = PHOTOMETRIC_RGB;
  rgba.extra_samples = {EXTRASAMPLE_UNASSALPHA};
  IfdFixture grey_alpha = deflate_grey(4, 4, 16);
  grey_alpha.samples_per_pixel = 2;
  grey_alpha.extra_samples = {EXTRASAMPLE_ASSOCALPHA};
  IfdFixture palette = deflate_grey(4, 4, 4);
  palette.compression = COMPRESSION_NONE;
  palette.photometric = PHOTOMETRIC_PALETTE;
  palette.color_map = std::vector<std::uint16_t>(48, 0);
  IfdFixture complex = deflate_grey(4, 4, 32);
  complex.sample_format = SAMPLEFORMAT_COMPLEXINT;
  const std::vector<Case> cases = {
      {deflate_grey(4, 4, 16), 1, 16}, {rgba, 4, 8}, {grey_alpha, 2, 16}, {palette, 3, 4}, {complex, 3, 8}};
  for (const auto& c : cases) {
    TempDir dir;
    testing::write_tiff(dir / "a.tif", {c.ifd});
    TiffViewer viewer;
    auto table = viewer.render(RenderSource::from_path(dir / "a.tif"));
    ASSERT_TRUE(table) << table.error().message;
    const Header h = header(*table);
    EXPECT_EQ(h.channels, c.channels);
    EXPECT_EQ(h.bit_depth, c.bit_depth);
  }
}

TEST(TiffViewerRenderTest, FailedRenderKeepsTheEarlierDocument) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {deflate_grey(600, 600)});
  TiffViewer viewer;
  EXPECT_EQ(viewer.render_level(0).error(), (PluginError{ErrorCode::failed, "render_level before render"}));
  EXPECT_EQ(viewer.render_region(0, 0, 0, 1, 1).error(),
            (PluginError{ErrorCode::failed, "render_region before render"}));

  ASSERT_TRUE(viewer.render(RenderSource::from_path(dir / "a.tif")));
  const auto levels = viewer.doc()->levels;

  auto failed = viewer.render(RenderSource::from_bytes({'n', 'o', 't', ' ', 't', 'i', 'f', 'f'}));
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), (PluginError{ErrorCode::failed, "tiff: format error: TIFF signature not found"}));
  failed = viewer.render(RenderSource::from_path(dir / "gone.tif"));
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "open " + (dir / "gone.tif").string() + ": No such file or directory");
  ASSERT_TRUE(viewer.doc());
  EXPECT_EQ(viewer.doc()->levels, levels);
}

}  // namespace
}  // namespace brindle::tiff
