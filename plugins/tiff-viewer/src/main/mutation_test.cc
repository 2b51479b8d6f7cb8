// Damaged files: bytes of real files overwritten at random (fixed seed).
// Every request must end in a well-formed image or an error reply; a crash,
// a hang or an unbounded allocation fails the run (and the sanitizer build).
#include <gtest/gtest.h>
#include <tiffio.h>

#include <random>

#include "main/tiff_viewer.h"
#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using testing::IfdFixture;

std::vector<std::vector<std::uint8_t>> seeds(const testing::TempDir& dir) {
  std::vector<std::pair<IfdFixture, testing::FileOptions>> files;
  IfdFixture tiled;
  tiled.width = 300;
  tiled.height = 200;
  tiled.bits = 16;
  tiled.compression = COMPRESSION_ADOBE_DEFLATE;
  tiled.predictor = PREDICTOR_HORIZONTAL;
  tiled.tile_width = tiled.tile_height = 64;
  tiled.gdal_nodata = std::string("0") + '\0';
  files.push_back({tiled, {true, true}});
  IfdFixture palette;
  palette.width = palette.height = 40;
  palette.bits = 4;
  palette.photometric = PHOTOMETRIC_PALETTE;
  palette.color_map = std::vector<std::uint16_t>(48, 30000);
  palette.compression = COMPRESSION_LZW;
  palette.rows_per_strip = 7;
  files.push_back({palette, {false, false}});
  IfdFixture planar;
  planar.width = planar.height = 48;
  planar.samples_per_pixel = 4;
  planar.photometric = PHOTOMETRIC_RGB;
  planar.extra_samples = {EXTRASAMPLE_UNASSALPHA};
  planar.planar = true;
  planar.compression = COMPRESSION_PACKBITS;
  planar.rows_per_strip = 16;
  files.push_back({planar, {false, true}});

  std::vector<std::vector<std::uint8_t>> out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto path = dir / ("seed" + std::to_string(i) + ".tif");
    testing::write_tiff(path, {files[i].first}, files[i].second);
    out.push_back(testing::read_bytes(path));
  }
  return out;
}

bool well_formed(const ViewerResult& r) {
  if (!r) return !r.error().message.empty();
  const auto& p = *r;
  if (p.size() < 31 || p[0] != 0xFF) return false;
  const std::uint64_t w = p[23] | p[24] << 8 | p[25] << 16 | static_cast<std::uint64_t>(p[26]) << 24;
  const std::uint64_t h = p[27] | p[28] << 8 | p[29] << 16 | static_cast<std::uint64_t>(p[30]) << 24;
  return p.size() == 31 + w * h * 4;
}

TEST(MutationTest, DamagedFilesNeverBreakTheViewer) {
  testing::TempDir dir;
  const auto originals = seeds(dir);
  std::mt19937 random(20261211);
  TiffViewer viewer;
  int opened = 0, rendered = 0;
  for (int round = 0; round < 400; ++round) {
    auto bytes = originals[round % originals.size()];
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % bytes.size();
      // Structure lives in the first and last bytes; aim there half the time.
      const std::size_t pos = (random() % 2) ? at : (random() % 2 ? at % 64 : bytes.size() - 1 - at % 400);
      bytes[pos % bytes.size()] = static_cast<std::uint8_t>(random());
    }
    if (!viewer.render(RenderSource::from_bytes(bytes))) continue;
    ++opened;
    const auto n = static_cast<std::uint32_t>(viewer.doc()->levels.size());
    for (std::uint32_t level = 0; level < n && level < 4; ++level) {
      const auto& l = viewer.doc()->levels[level];
      const auto r = viewer.render_level(level);
      ASSERT_TRUE(well_formed(r)) << "round " << round;
      rendered += r.has_value();
      ASSERT_TRUE(well_formed(viewer.render_region(level, l.width / 3, l.height / 3, 50, 50))) << "round " << round;
    }
  }
  // The damage must leave enough files readable to exercise the renderers.
  EXPECT_GT(opened, 40);
  EXPECT_GT(rendered, 20);
}

}  // namespace
}  // namespace brindle::tiff
