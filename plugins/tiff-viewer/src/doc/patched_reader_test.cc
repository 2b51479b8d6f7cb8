#include "doc/patched_reader.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include "doc/byte_stream.h"
#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using testing::FileOptions;
using testing::IfdFixture;
using testing::TempDir;

IfdFixture palette_ifd(std::uint32_t size) {
  IfdFixture s;
  s.width = s.height = size;
  s.photometric = PHOTOMETRIC_PALETTE;
  std::vector<std::uint16_t> map(3 * 256);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<std::uint16_t>(i * 85);
  s.color_map = map;
  return s;
}

std::shared_ptr<const std::vector<std::uint8_t>> shared(std::vector<std::uint8_t> bytes) {
  return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

std::vector<BytePatch> scan(const std::vector<std::uint8_t>& bytes) {
  MemoryStream stream(shared(bytes));
  auto patches = scan_palette_patches(stream);
  EXPECT_TRUE(patches.has_value()) << patches.error();
  return patches.value_or(std::vector<BytePatch>{});
}

std::uint16_t u16_at(const std::vector<std::uint8_t>& b, std::size_t at, bool big_endian) {
  return big_endian ? static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]) : static_cast<std::uint16_t>(b[at + 1] << 8 | b[at]);
}

struct PaletteCase {
  FileOptions options;
  std::size_t value_offset;  // from the entry start to its value
};

class PalettePatchTest : public ::testing::TestWithParam<PaletteCase> {};

// Every palette IFD gets one patch exactly on its PhotometricInterpretation
// value; reading through the patches changes those bytes and nothing else.
TEST_P(PalettePatchTest, PatchesEveryPhotometricValueOfThree) {
  const auto [options, value_offset] = GetParam();
  TempDir dir;
  testing::write_tiff(dir / "p.tif", {palette_ifd(8), palette_ifd(4), palette_ifd(2)}, options);
  const auto raw = testing::read_bytes(dir / "p.tif");
  const auto patches = scan(raw);
  ASSERT_EQ(patches.size(), 3u);

  auto expected = raw;
  for (const auto& p : patches) {
    ASSERT_EQ(p.bytes.size(), 2u);
    const std::size_t entry = p.offset - value_offset;
    EXPECT_EQ(u16_at(raw, entry, options.big_endian), 262) << "patch lies in the PhotometricInterpretation entry";
    EXPECT_EQ(u16_at(raw, p.offset, options.big_endian), 3);
    EXPECT_EQ(u16_at(p.bytes, 0, options.big_endian), 1);
    expected[p.offset] = p.bytes[0];
    expected[p.offset + 1] = p.bytes[1];
  }
  PatchedReader reader(std::make_unique<MemoryStream>(shared(raw)), patches);
  std::vector<std::uint8_t> seen(raw.size());
  ASSERT_TRUE(read_exact(reader, seen).has_value());
  EXPECT_EQ(seen, expected);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, PalettePatchTest,
                         ::testing::Values(PaletteCase{{false, false}, 8}, PaletteCase{{false, true}, 8},
                                           PaletteCase{{true, false}, 12}, PaletteCase{{true, true}, 12}));

TEST(PatchedReaderTest, ReadCoveringHalfAPatchGetsOnlyTheOverlappingByte) {
  std::vector<std::uint8_t> raw = {10, 11, 12, 13, 14, 15};
  std::vector<BytePatch> patches = {{2, {0xA2, 0xA3}}};
  PatchedReader reader(std::make_unique<MemoryStream>(shared(raw)), patches);

  std::array<std::uint8_t, 2> two{};
  ASSERT_TRUE(reader.seek(1, SeekFrom::start));
  ASSERT_EQ(reader.read(two).value(), 2u);
  EXPECT_EQ(two, (std::array<std::uint8_t, 2>{11, 0xA2}));
  ASSERT_EQ(reader.read(two).value(), 2u);
  EXPECT_EQ(two, (std::array<std::uint8_t, 2>{0xA3, 14}));
  EXPECT_EQ(reader.position(), 5u);
  // A failed seek leaves the position alone.
  EXPECT_FALSE(reader.seek(-10, SeekFrom::current));
  EXPECT_EQ(reader.position(), 5u);
}

// Rewrites the entry of a classic little-endian file's first patch.
std::vector<std::uint8_t> edit_entry(std::vector<std::uint8_t> raw, std::size_t entry, std::uint16_t type,
                                     std::uint32_t count) {
  raw[entry + 2] = static_cast<std::uint8_t>(type);
  raw[entry + 3] = 0;
  for (int i = 0; i < 4; ++i) raw[entry + 4 + i] = static_cast<std::uint8_t>(count >> (8 * i));
  return raw;
}

TEST(PaletteScanTest, LongOrTwoValueEntriesAreNotPatched) {
  TempDir dir;
  testing::write_tiff(dir / "p.tif", {palette_ifd(4)});
  const auto raw = testing::read_bytes(dir / "p.tif");
  const auto patches = scan(raw);
  ASSERT_EQ(patches.size(), 1u);
  const std::size_t entry = patches[0].offset - 8;
  auto as_long = edit_entry(raw, entry, 4, 1);
  as_long[entry + 10] = as_long[entry + 11] = 0;  // the LONG value 3
  EXPECT_TRUE(scan(as_long).empty());
  EXPECT_TRUE(scan(edit_entry(raw, entry, 3, 2)).empty());
}

// The offset of the last IFD's next-IFD field in a classic little-endian
// file written by libtiff, found from the header.
std::size_t next_field(const std::vector<std::uint8_t>& raw, int ifd) {
  std::size_t at = raw[4] | raw[5] << 8 | raw[6] << 16 | static_cast<std::size_t>(raw[7]) << 24;
  for (;;) {
    const std::size_t count = raw[at] | raw[at + 1] << 8;
    const std::size_t next = at + 2 + 12 * count;
    if (ifd-- == 0) return next;
    at = raw[next] | raw[next + 1] << 8 | raw[next + 2] << 16 | static_cast<std::size_t>(raw[next + 3]) << 24;
  }
}

void put_u32(std::vector<std::uint8_t>& raw, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) raw[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(PaletteScanTest, ChainEndings) {
  TempDir dir;
  testing::write_tiff(dir / "p.tif", {palette_ifd(8), palette_ifd(4)});
  const auto raw = testing::read_bytes(dir / "p.tif");
  ASSERT_EQ(scan(raw).size(), 2u);

  auto looping = raw;  // IFD 1 points back to IFD 0
  put_u32(looping, next_field(raw, 1), raw[4] | raw[5] << 8 | raw[6] << 16 | raw[7] << 24);
  EXPECT_EQ(scan(looping).size(), 2u);

  // Ends right after the last entries: the next-IFD offset is unreadable.
  auto cut = raw;
  cut.resize(next_field(raw, 1));
  EXPECT_EQ(scan(cut).size(), 2u);

  // A next-IFD offset past the end makes the entry-count read fail.
  auto past_end = raw;
  put_u32(past_end, next_field(raw, 0), static_cast<std::uint32_t>(raw.size() + 100));
  MemoryStream stream(shared(past_end));
  EXPECT_FALSE(scan_palette_patches(stream).has_value());
}

TEST(PaletteScanTest, ShortOrForeignHeadersGiveNoPatches) {
  for (const std::vector<std::uint8_t>& bytes : std::vector<std::vector<std::uint8_t>>{
           {'I', 'I', 42, 0, 8, 0, 0},                        // 7 bytes
           {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0},                // not TIFF
           {'I', 'I', 44, 0, 8, 0, 0, 0},                     // unknown magic
           {'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0, 0}}) {     // BigTIFF header cut short
    EXPECT_TRUE(scan(bytes).empty());
  }
}

}  // namespace
}  // namespace brindle::tiff
