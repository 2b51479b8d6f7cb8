#include "doc/tiff_doc.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>

#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using testing::FileOptions;
using testing::IfdFixture;
using testing::TempDir;

IfdFixture image(std::uint32_t w, std::uint32_t h, std::optional<std::uint32_t> subfile = std::nullopt) {
  IfdFixture s;
  s.width = w;
  s.height = h;
  s.compression = COMPRESSION_ADOBE_DEFLATE;
  s.tile_width = s.tile_height = 512;
  s.subfile_type = subfile;
  return s;
}

std::expected<TiffDoc, std::string> open_file(const std::filesystem::path& path) {
  return open_doc(DocSource::file(path), find_sidecar(path));
}

using Table = std::vector<TiffLevel>;

TEST(TiffDocTest, LevelTablesOfRealFiles) {
  struct Case {
    const char* name;
    std::vector<IfdFixture> ifds;
    Table expected;
  };
  const std::vector<Case> cases = {
      {"single 10000x8000",
       {image(10000, 8000)},
       {{0, 313, 250, 32}, {0, 625, 500, 16}, {0, 1250, 1000, 8}, {0, 2500, 2000, 4}, {0, 5000, 4000, 2},
        {0, 10000, 8000, 1}}},
      {"300x200", {image(300, 200)}, {{0, 300, 200, 1}}},
      {"512x512", {image(512, 512)}, {{0, 256, 256, 2}, {0, 512, 512, 1}}},
      {"1001x1001", {image(1001, 1001)}, {{0, 501, 501, 2}, {0, 1001, 1001, 1}}},
      {"4096 with a reduced 2048",
       {image(4096, 4096), image(2048, 2048, 1)},
       {{1, 256, 256, 8}, {1, 512, 512, 4}, {1, 1024, 1024, 2}, {1, 2048, 2048, 1}, {0, 4096, 4096, 1}}},
      {"stored 1000 suppresses a synthesized 1100",
       {image(2200, 2200), image(1000, 1000, 1)},
       {{0, 275, 275, 8}, {1, 500, 500, 2}, {1, 1000, 1000, 1}, {0, 2200, 2200, 1}}},
      {"stored 1000 leaves a synthesized 1200",
       {image(2400, 2400), image(1000, 1000, 1)},
       {{0, 300, 300, 8}, {1, 500, 500, 2}, {0, 600, 600, 4}, {1, 1000, 1000, 1}, {0, 1200, 1200, 2},
        {0, 2400, 2400, 1}}},
      {"second page without NewSubfileType is not shown", {image(600, 400), image(600, 400)}, {{0, 300, 200, 2}, {0, 600, 400, 1}}},
      {"page marked as page (2) is not shown", {image(300, 300), image(300, 300, 2)}, {{0, 300, 300, 1}}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing::write_tiff(dir / "a.tif", c.ifds);
    auto doc = open_file(dir / "a.tif");
    ASSERT_TRUE(doc) << c.name << ": " << doc.error();
    EXPECT_EQ(doc->levels, c.expected) << c.name;
  }
}

TEST(TiffDocTest, OpensEveryContainerAndLayout) {
  for (bool big_tiff : {false, true}) {
    for (bool big_endian : {false, true}) {
      for (bool tiled : {false, true}) {
        TempDir dir;
        IfdFixture s = image(700, 300);
        if (!tiled) s.tile_width = s.tile_height = 0;
        testing::write_tiff(dir / "a.tif", {s, image(350, 150, 1)}, {big_tiff, big_endian});
        const auto bytes = testing::read_bytes(dir / "a.tif");
        for (bool memory : {false, true}) {
          auto doc = memory ? open_doc(DocSource::memory(bytes), std::nullopt) : open_file(dir / "a.tif");
          ASSERT_TRUE(doc) << doc.error();
          EXPECT_EQ(doc->levels, (Table{{1, 350, 150, 1}, {0, 700, 300, 1}}))
              << big_tiff << big_endian << tiled << memory;
        }
      }
    }
  }
}

TEST(TiffDocTest, SidecarImagesAllCount) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {image(4000, 2000)});
  auto alone = open_file(dir / "a.tif");
  ASSERT_TRUE(alone) << alone.error();
  EXPECT_FALSE(alone->sidecar);
  EXPECT_EQ(alone->levels.size(), 4u);

  // Every IFD of a sidecar counts, page or not.
  testing::write_tiff(dir / "a.tif.ovr", {image(2000, 1000), image(1000, 500), image(500, 250)});
  auto doc = open_file(dir / "a.tif");
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(doc->sidecar, (dir / "a.tif.ovr").string());
  EXPECT_EQ(doc->levels, (Table{{2, 500, 250, 1, true},
                                {1, 1000, 500, 1, true},
                                {0, 2000, 1000, 1, true},
                                {0, 4000, 2000, 1, false}}));

  std::ofstream(dir / "a.tif.ovr", std::ios::trunc) << "not a tiff at all";
  doc = open_file(dir / "a.tif");
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(doc->levels, alone->levels);
  EXPECT_EQ(open_decoder(*doc, true).error(), "tiff: format error: TIFF signature not found");
  EXPECT_EQ(open_decoder(*alone, true).error(), "no overview sidecar");
}

std::uint32_t u32_at(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// IFD offsets of a classic little-endian file.
std::vector<std::size_t> ifd_offsets(const std::vector<std::uint8_t>& b) {
  std::vector<std::size_t> out;
  for (std::size_t at = u32_at(b, 4); at != 0 && out.size() < 16; at = u32_at(b, at + 2 + 12 * (b[at] | b[at + 1] << 8))) {
    out.push_back(at);
  }
  return out;
}

std::size_t next_field(const std::vector<std::uint8_t>& b, std::size_t ifd) { return ifd + 2 + 12 * (b[ifd] | b[ifd + 1] << 8); }

TEST(TiffDocTest, HostileChains) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {image(600, 600), image(300, 300, 1), image(280, 280, 1)});
  const auto raw = testing::read_bytes(dir / "a.tif");
  const auto ifds = ifd_offsets(raw);
  ASSERT_EQ(ifds.size(), 3u);

  // IFD 2 loops back to IFD 0: walked once, no hang.
  auto looping = raw;
  put_u32(looping, next_field(raw, ifds[2]), static_cast<std::uint32_t>(ifds[0]));
  auto doc = open_doc(DocSource::memory(looping), std::nullopt);
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(doc->levels.size(), 3u);  // 280, 300, 600: factor 2 of 600 duplicates 300

  // IFD 0 points past the end: the later IFDs are ignored.
  auto past_end = raw;
  put_u32(past_end, next_field(raw, ifds[0]), static_cast<std::uint32_t>(raw.size() + 4096));
  doc = open_doc(DocSource::memory(past_end), std::nullopt);
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(doc->levels, (Table{{0, 300, 300, 2}, {0, 600, 600, 1}}));
}

TEST(TiffDocTest, ZeroSizedIfdStillCountsInTheChain) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {image(600, 600), image(300, 300, 1), image(280, 280, 1)});
  auto raw = testing::read_bytes(dir / "a.tif");
  const std::size_t ifd1 = ifd_offsets(raw)[1];
  for (std::size_t e = 0; e < raw[ifd1]; ++e) {
    const std::size_t entry = ifd1 + 2 + 12 * e;
    if ((raw[entry] | raw[entry + 1] << 8) == TIFFTAG_IMAGEWIDTH) {
      // ImageWidth is stored as SHORT or LONG in place; zero both forms.
      put_u32(raw, entry + 8, 0);
    }
  }
  auto doc = open_doc(DocSource::memory(raw), std::nullopt);
  ASSERT_TRUE(doc) << doc.error();
  ASSERT_FALSE(doc->levels.empty());
  EXPECT_EQ(doc->levels.front(), (TiffLevel{2, 280, 280, 1}));
  EXPECT_EQ(doc->levels.back(), (TiffLevel{0, 600, 600, 1}));
  for (const auto& l : doc->levels) EXPECT_NE(l.ifd, 1u);
}

TEST(TiffDocTest, NoImageOfNonZeroSize) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {image(64, 64)});
  auto raw = testing::read_bytes(dir / "a.tif");
  testing::set_inline_tag(raw, 0, TIFFTAG_IMAGELENGTH, 0);
  EXPECT_EQ(open_doc(DocSource::memory(raw), std::nullopt).error(), "no image levels");
}

TEST(TiffDocTest, FailureTexts) {
  TempDir dir;
  const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases = {
      {{'I', 'I', 42, 0, 8, 0, 0}, "tiff: "},
      {{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, "tiff: format error: TIFF signature not found"},
      {{'M', 'M', 0, 41, 0, 0, 0, 8}, "tiff: format error: TIFF signature invalid"},
      {{'I', 'I', 42, 0, 0, 1, 0, 0, 0, 0, 0, 0}, "tiff: format error: image file directory not found"},
      {{}, "tiff: format error: TIFF signature not found"},
  };
  for (const auto& [bytes, text] : cases) {
    auto doc = open_doc(DocSource::memory(bytes), std::nullopt);
    ASSERT_FALSE(doc);
    EXPECT_TRUE(doc.error().starts_with(text)) << doc.error();
    EXPECT_GT(doc.error().size(), 6u) << "a reason follows the prefix";
  }
  const std::string missing = (dir / "missing.tif").string();
  EXPECT_EQ(open_doc(DocSource::file(missing), std::nullopt).error(),
            "open " + missing + ": No such file or directory");
}

TEST(TiffDocTest, PaletteFilesReachTheDecoderAsGrey) {
  TempDir dir;
  IfdFixture s;
  s.width = s.height = 4;
  s.photometric = PHOTOMETRIC_PALETTE;
  s.color_map = std::vector<std::uint16_t>(3 * 256, 65535);
  for (bool big_endian : {false, true}) {
    testing::write_tiff(dir / "p.tif", {s}, {false, big_endian});
    auto doc = open_file(dir / "p.tif");
    ASSERT_TRUE(doc) << doc.error();
    EXPECT_EQ(doc->main_patches.size(), 1u);
    auto decoder = open_decoder(*doc, false);
    ASSERT_TRUE(decoder) << decoder.error();
    std::uint16_t photometric = 0;
    ASSERT_EQ(TIFFGetField(decoder->handle(), TIFFTAG_PHOTOMETRIC, &photometric), 1);
    EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
  }
}

}  // namespace
}  // namespace brindle::tiff
