// Probing and decoding real HEIC files made at test time with heif-enc;
// decoded pixels are checked against heif-convert's PNG of the same file,
// reduced with the test's own box filter.
#include "heif/decode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "heif/level_plan.h"
#include "heif/probe.h"
#include "testing/heic_fixtures.h"

namespace brindle::heif {
namespace {

using testing::Raster;

struct FixtureSpec {
  std::uint32_t width, height;
  unsigned channels;
  unsigned quarter_turns = 0;  // irot added after encoding
};

const std::map<std::string, FixtureSpec>& fixture_specs() {
  static const std::map<std::string, FixtureSpec> specs = {
      {"rgb_300x200", {300, 200, 3}},         {"rgba_301x199", {301, 199, 4}},
      {"rgb_511x511", {511, 511, 3}},         {"rgba_512x512", {512, 512, 4}},
      {"rgb_4032x3024", {4032, 3024, 3}},     {"rgb_640x400", {640, 400, 3}},
      {"rgb_640x400_rot90", {640, 400, 3, 1}},
  };
  return specs;
}

// Each file is made on first use (tests run one per process, so only what
// a test needs gets encoded), together with heif-convert's PNG of it.
class HeicFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir_ = new testing::TempDir(); }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static std::string heic(const std::string& name) {
    const std::string path = dir_->file(name + ".heic");
    if (!std::filesystem::exists(path)) make(name, path);
    return path;
  }

  // heif-convert's decode of the fixture, as RGBA.
  static Raster reference(const std::string& name) {
    heic(name);
    auto png = testing::read_png(dir_->file(name + ".out.png"));
    EXPECT_TRUE(png) << png.error();
    return png ? testing::to_rgba(*png) : Raster{};
  }

  static testing::TempDir* dir_;

 private:
  static void make(const std::string& name, const std::string& heic) {
    const FixtureSpec& s = fixture_specs().at(name);
    const std::string png = dir_->file(name + ".in.png");
    ASSERT_TRUE(testing::write_png(png, testing::make_pattern(s.width, s.height, s.channels)));
    auto encoded = testing::encode_heic(png, heic);
    ASSERT_TRUE(encoded) << encoded.error();
    if (s.quarter_turns != 0) {
      auto bytes = testing::read_file(heic);
      ASSERT_TRUE(bytes) << bytes.error();
      auto rotated = testing::add_rotation(*bytes, s.quarter_turns);
      ASSERT_TRUE(rotated) << rotated.error();
      ASSERT_TRUE(testing::write_file(heic, *rotated));
    }
    auto converted = testing::convert_to_png(heic, dir_->file(name + ".out.png"));
    ASSERT_TRUE(converted) << converted.error();
  }
};

testing::TempDir* HeicFiles::dir_ = nullptr;

// Every level of a fixture, decoded once, against heif-convert's pixels.
void expect_levels_match_reference(const HeifSource& source, const Raster& full, ImageSize expected_size,
                                   const std::vector<std::uint32_t>& expected_levels) {
  auto size = probe_image(source);
  ASSERT_TRUE(size) << size.error();
  ASSERT_EQ(*size, expected_size);
  const auto levels = plan_levels(size->width, size->height);
  ASSERT_EQ(levels, expected_levels);

  auto base = decode_base(source, *size);
  ASSERT_TRUE(base) << base.error();
  const LevelSize base_size = level_size(size->width, size->height, levels.back());
  ASSERT_EQ(base->width, base_size.width);
  ASSERT_EQ(base->height, base_size.height);
  ASSERT_EQ(full.width, size->width);
  ASSERT_EQ(full.height, size->height);
  const Raster expected_base = testing::reference_box(full, base->width, base->height);
  ASSERT_EQ(base->rgba, expected_base.bytes);

  for (std::uint32_t side : levels) {
    const LevelSize s = level_size(size->width, size->height, side);
    auto pixels = level_pixels(*base, *size, side);
    ASSERT_TRUE(pixels) << pixels.error();
    EXPECT_EQ(*pixels, testing::reference_box(expected_base, s.width, s.height).bytes) << "long side " << side;

    auto payload = level_payload(*base, *size, side);
    ASSERT_TRUE(payload) << payload.error();
    EXPECT_EQ(*payload, encode_single_frame(3, 8, s.width, s.height, *pixels)) << "long side " << side;
  }
}

TEST_F(HeicFiles, DecodesEveryLevelLikeTheReferenceDecoder) {
  const struct {
    std::string name;
    ImageSize size;
    std::vector<std::uint32_t> levels;
  } cases[] = {
      {"rgb_300x200", {300, 200}, {300}},
      {"rgba_301x199", {301, 199}, {301}},
      {"rgb_511x511", {511, 511}, {511}},
      {"rgba_512x512", {512, 512}, {256, 512}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_levels_match_reference(heic(c.name), reference(c.name), c.size, c.levels);
  }
}

TEST_F(HeicFiles, CameraSizedImageKeepsItsHalvings) {
  // 4032 × 3024 is over the pixel budget: the base is 2016 × 1512.
  expect_levels_match_reference(heic("rgb_4032x3024"), reference("rgb_4032x3024"), {4032, 3024}, {504, 1008, 2016});
}

TEST_F(HeicFiles, AlphaSurvivesAndOpaqueImagesGetFullAlpha) {
  for (const auto& [name, has_alpha] : {std::pair{"rgb_300x200", false}, {"rgba_512x512", true}}) {
    auto size = probe_image(heic(name));
    ASSERT_TRUE(size) << size.error();
    auto base = decode_base(heic(name), *size);
    ASSERT_TRUE(base) << base.error();
    std::map<std::uint8_t, int> alphas;
    for (std::size_t i = 3; i < base->rgba.size(); i += 4) ++alphas[base->rgba[i]];
    if (has_alpha) {
      EXPECT_GT(alphas.size(), 10u) << name;  // the pattern's alpha ramp came through
    } else {
      EXPECT_EQ(alphas.size(), 1u) << name;
      EXPECT_EQ(alphas.begin()->first, 255) << name;
    }
  }
}

TEST_F(HeicFiles, SmallImageBaseIsTheDecodedImage) {
  // 511 × 511 is one level, the image itself, without any averaging.
  auto base = decode_base(heic("rgb_511x511"), {511, 511});
  ASSERT_TRUE(base) << base.error();
  EXPECT_EQ(base->rgba, reference("rgb_511x511").bytes);
}

TEST_F(HeicFiles, RotatedImageIsPlannedAndDecodedUpright) {
  // The edited container really rotates: heif-convert of the rotated file
  // is the plain file turned a quarter anticlockwise.
  const Raster plain = reference("rgb_640x400");
  const Raster turned = reference("rgb_640x400_rot90");
  ASSERT_EQ(turned.width, 400u);
  ASSERT_EQ(turned.height, 640u);
  for (std::uint32_t y = 0; y < turned.height; ++y) {
    for (std::uint32_t x = 0; x < turned.width; ++x) {
      const std::size_t from = ((static_cast<std::size_t>(x) * plain.width) + (plain.width - 1 - y)) * 4;
      const std::size_t to = ((static_cast<std::size_t>(y) * turned.width) + x) * 4;
      ASSERT_EQ(0, std::memcmp(&plain.bytes[from], &turned.bytes[to], 4)) << x << "," << y;
    }
  }
  // Levels 320 and 640 are 200 × 320 and 400 × 640, upright.
  const HeifSource source = heic("rgb_640x400_rot90");
  EXPECT_EQ(level_size(400, 640, 320).width, 200u);
  EXPECT_EQ(level_size(400, 640, 320).height, 320u);
  expect_levels_match_reference(source, turned, {400, 640}, {320, 640});
}

TEST_F(HeicFiles, BytesDecodeLikeThePath) {
  auto bytes = testing::read_file(heic("rgba_301x199"));
  ASSERT_TRUE(bytes);
  const HeifSource source = std::move(*bytes);
  expect_levels_match_reference(source, reference("rgba_301x199"), {301, 199}, {301});
}

TEST_F(HeicFiles, LevelFinerThanTheBaseIsRefused) {
  auto base = decode_base(heic("rgb_300x200"), {300, 200});
  ASSERT_TRUE(base) << base.error();
  auto pixels = level_pixels(*base, {300, 200}, 600);
  ASSERT_FALSE(pixels);
  EXPECT_EQ(pixels.error(), "level 600\u00D7400 is finer than the decoded 300\u00D7200");
  EXPECT_EQ(level_payload(*base, {300, 200}, 600).error(), pixels.error());
}

TEST_F(HeicFiles, DecodeChecksTheProbedSize) {
  auto base = decode_base(heic("rgb_300x200"), {200, 300});
  ASSERT_FALSE(base);
  EXPECT_EQ(base.error(), "decoded 300\u00D7200 but the container reported 200\u00D7300");
}

TEST_F(HeicFiles, UnreadableSourcesGiveLibheifMessages) {
  auto whole = testing::read_file(heic("rgb_300x200"));
  ASSERT_TRUE(whole);
  const std::vector<HeifSource> sources = {
      dir_->file("does-not-exist.heic"),
      std::vector<std::uint8_t>{},
      std::vector<std::uint8_t>(4096, 0x5A),
      std::vector<std::uint8_t>(whole->begin(), whole->begin() + 100),  // cut inside meta
  };
  for (const auto& source : sources) {
    auto size = probe_image(source);
    ASSERT_FALSE(size);
    EXPECT_TRUE(size.error().starts_with("libheif could not open the file: ")) << size.error();
    EXPECT_NE(size.error().find(" (libheif error "), std::string::npos) << size.error();
    EXPECT_EQ(decode_base(source, {300, 200}).error(), size.error());
  }
}

TEST_F(HeicFiles, CorruptCodedDataFailsAtDecode) {
  auto whole = testing::read_file(heic("rgb_300x200"));
  ASSERT_TRUE(whole);
  // The container survives, the coded image does not.
  const HeifSource source = testing::wipe_media_data(*whole);
  auto size = probe_image(source);
  ASSERT_TRUE(size) << size.error();
  auto base = decode_base(source, *size);
  ASSERT_FALSE(base);
  EXPECT_TRUE(base.error().starts_with("libheif could not decode the image: ")) << base.error();
}

TEST_F(HeicFiles, ContainerSizeClaimsAreChecked) {
  auto whole = testing::read_file(heic("rgb_300x200"));
  ASSERT_TRUE(whole);
  const struct {
    std::uint32_t width, height;
    std::string message;
  } cases[] = {
      // Refused before libheif allocates anything for it.
      {20000, 20000, "image 20000\u00D720000 exceeds the decode limit of 268435456 pixels"},
      {600, 400, "decoded 300\u00D7200 but the container reported 600\u00D7400"},
  };
  for (const auto& c : cases) {
    auto edited = testing::set_image_size(*whole, c.width, c.height);
    ASSERT_TRUE(edited) << edited.error();
    const HeifSource source = std::move(*edited);
    auto size = probe_image(source);
    ASSERT_TRUE(size) << size.error();
    EXPECT_EQ(*size, (ImageSize{c.width, c.height}));
    auto base = decode_base(source, *size);
    ASSERT_FALSE(base);
    EXPECT_EQ(base.error(), c.message);
  }
}

TEST(HeifSourcePath, OnlyRegularFilesReachLibheif) {
  // A FIFO without a writer would block libheif's open forever.
  testing::TempDir dir;
  const std::string fifo = dir.file("pipe.heic");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir.path(), std::string("/dev/zero")}) {
    auto size = probe_image(path);
    ASSERT_FALSE(size);
    EXPECT_EQ(size.error(), path + ": not a regular file");
    EXPECT_EQ(decode_base(path, {1, 1}).error(), size.error());
  }
}

TEST(HeifSourcePath, ZeroByteIsRefusedBeforeLibheif) {
  auto size = probe_image(std::string("/tmp/a\0b.heic", 13));
  ASSERT_FALSE(size);
  EXPECT_EQ(size.error(), "/tmp/a\\0b.heic: path contains NUL");
}

}  // namespace
}  // namespace brindle::heif
