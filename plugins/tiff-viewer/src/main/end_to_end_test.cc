// The plug-in executable driven the way the file manager drives it: level
// table, levels and windows through shared memory, errors as replies, and
// the process alive after hostile input.
#include <gtest/gtest.h>
#include <tiffio.h>

#include "host_session.h"
#include "main/tiff_viewer.h"
#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using namespace std::string_literals;
constexpr std::uint64_t OUTPUT = 64 << 20;

testing::IfdFixture geotiff() {
  testing::IfdFixture s;
  s.width = 600;
  s.height = 400;
  s.bits = 16;
  s.compression = COMPRESSION_ADOBE_DEFLATE;
  s.tile_width = s.tile_height = 256;
  std::vector<std::uint16_t> v(600 * 400);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = (i % 600) < 50 ? 0 : static_cast<std::uint16_t>(1000 + i % 997);
  s.data = testing::as_bytes(v);
  s.gdal_nodata = "0"s + '\0';
  return s;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::write_tiff(dir / "geo.tif", {geotiff()});
    auto s = host::HostSession::start(TIFF_VIEWER_EXE);
    ASSERT_TRUE(s.has_value()) << s.error();
    session.emplace(std::move(*s));
    ASSERT_EQ(session->plugin_id(), "tiff");
  }
  testing::TempDir dir;
  std::optional<host::HostSession> session;
};

TEST_F(EndToEnd, AnswersWhatTheViewerAnswers) {
  TiffViewer local;
  const auto table = local.render(RenderSource::from_path(dir / "geo.tif"));
  ASSERT_TRUE(table);
  auto by_path = session->render_path(dir / "geo.tif", OUTPUT);
  ASSERT_TRUE(by_path && by_path->ok()) << (by_path ? by_path->error_message : by_path.error());
  EXPECT_EQ(*by_path->payload, *table);
  auto by_bytes = session->render_bytes(testing::read_bytes(dir / "geo.tif"), OUTPUT);
  ASSERT_TRUE(by_bytes && by_bytes->ok());
  EXPECT_EQ(*by_bytes->payload, *table);

  auto level = session->render_level(1, OUTPUT);
  ASSERT_TRUE(level && level->ok()) << level->error_message;
  EXPECT_EQ(*level->payload, *local.render_level(1));
  auto region = session->render_region(1, 10, 20, 100, 50, OUTPUT);
  ASSERT_TRUE(region && region->ok()) << region->error_message;
  EXPECT_EQ(*region->payload, *local.render_region(1, 10, 20, 100, 50));
  // No-data columns are transparent.
  EXPECT_EQ(region->payload->at(31 + 3), 0);
  EXPECT_EQ(region->payload->back(), 255);

  auto missing = session->render_level(7, OUTPUT);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->error_code, ErrorCode::not_found);
  EXPECT_EQ(missing->error_message, "no level 7");
  const auto exit = session->finish();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.stderr_text, "") << "libtiff's messages never reach standard error";
}

TEST_F(EndToEnd, HostileInputGivesErrorRepliesAndServingGoesOn) {
  testing::IfdFixture tiled;
  tiled.width = tiled.height = tiled.tile_width = tiled.tile_height = 16;
  testing::write_tiff(dir / "tile.tif", {tiled});
  auto huge = testing::read_bytes(dir / "tile.tif");
  for (auto tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_TILEWIDTH, TIFFTAG_TILELENGTH}) {
    testing::set_inline_tag(huge, 0, tag, 65520);
  }
  auto opened = session->render_bytes(huge, OUTPUT);
  ASSERT_TRUE(opened && opened->ok()) << opened->error_message;
  auto region = session->render_region(0, 0, 0, 64, 64, OUTPUT);
  ASSERT_TRUE(region);
  EXPECT_EQ(region->error_code, ErrorCode::failed);
  EXPECT_EQ(region->error_message, "chunk 0: decoder limits exceeded");

  const std::vector<std::uint8_t> bad_offset = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  auto garbage = session->render_bytes(bad_offset, OUTPUT);
  ASSERT_TRUE(garbage);
  EXPECT_EQ(garbage->error_code, ErrorCode::failed);
  EXPECT_TRUE(garbage->error_message.starts_with("tiff: ")) << garbage->error_message;

  auto good = session->render_path(dir / "geo.tif", OUTPUT);
  ASSERT_TRUE(good && good->ok());
  auto level = session->render_level(0, OUTPUT);
  ASSERT_TRUE(level && level->ok());
  const auto exit = session->finish();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.stderr_text, "");
}

}  // namespace
}  // namespace brindle::tiff
