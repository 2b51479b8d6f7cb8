// Every compression the viewer reads gives the pixels of the uncompressed
// file (lossy codecs within their loss).
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>

#include "raster/render_test_util.h"
#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using testing::as_bytes;
using testing::IfdFixture;
using testing::render_file;
using testing::TempDir;

constexpr std::uint32_t W = 64, H = 48;

IfdFixture grey8() {
  IfdFixture s;
  s.width = W;
  s.height = H;
  for (std::uint32_t y = 0; y < H; ++y) {
    for (std::uint32_t x = 0; x < W; ++x) s.data.push_back(static_cast<std::uint8_t>(x * 3 + y * 2));
  }
  return s;
}

IfdFixture grey16() {
  IfdFixture s = grey8();
  std::vector<std::uint16_t> v;
  for (std::uint32_t i = 0; i < W * H; ++i) v.push_back(static_cast<std::uint16_t>(1000 + i * 13));
  s.bits = 16;
  s.data = as_bytes(v);
  return s;
}

IfdFixture float32() {
  IfdFixture s = grey8();
  std::vector<float> v;
  for (std::uint32_t i = 0; i < W * H; ++i) v.push_back(std::sin(static_cast<float>(i) * 0.01f) * 100.0f);
  s.bits = 32;
  s.sample_format = SAMPLEFORMAT_IEEEFP;
  s.data = as_bytes(v);
  return s;
}

IfdFixture rgb8() {
  IfdFixture s = grey8();
  s.samples_per_pixel = 3;
  s.photometric = PHOTOMETRIC_RGB;
  s.data.clear();
  for (std::uint32_t y = 0; y < H; ++y) {
    for (std::uint32_t x = 0; x < W; ++x) {
      s.data.insert(s.data.end(), {static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 5),
                                   static_cast<std::uint8_t>(128 + x - y)});
    }
  }
  return s;
}

IfdFixture bilevel() {
  IfdFixture s = grey8();
  s.bits = 1;
  s.photometric = PHOTOMETRIC_MINISWHITE;
  s.data.assign(W / 8 * H, 0);
  for (std::uint32_t y = 0; y < H; ++y) {
    for (std::uint32_t x = 0; x < W; ++x) {
      if ((x / 5 + y / 3) % 2) s.data[y * (W / 8) + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
  }
  return s;
}

IfdFixture with(IfdFixture s, std::uint16_t compression, std::uint16_t predictor = 1, bool tiled = false) {
  s.compression = compression;
  s.predictor = predictor;
  if (tiled) s.tile_width = s.tile_height = 16;
  return s;
}

int max_difference(const RenderedRaster& a, const RenderedRaster& b) {
  int worst = 0;
  for (std::size_t i = 0; i < a.pixels().size(); ++i) worst = std::max(worst, std::abs(a.pixels()[i] - b.pixels()[i]));
  return worst;
}

TEST(CompressionTest, EveryCodecGivesTheUncompressedPixels) {
  struct Case {
    const char* name;
    IfdFixture compressed;
    int tolerance;
  };
  const std::vector<Case> cases = {
      {"LZW", with(grey8(), COMPRESSION_LZW), 0},
      {"LZW horizontal predictor", with(grey8(), COMPRESSION_LZW, PREDICTOR_HORIZONTAL), 0},
      {"Deflate", with(grey8(), COMPRESSION_ADOBE_DEFLATE), 0},
      {"Deflate tiled", with(grey8(), COMPRESSION_ADOBE_DEFLATE, 1, true), 0},
      {"PackBits", with(grey8(), COMPRESSION_PACKBITS), 0},
      {"Zstandard", with(grey8(), COMPRESSION_ZSTD), 0},
      {"JPEG grey", with(grey8(), COMPRESSION_JPEG), 16},  // ringing at the wrap of the ramp
      {"16-bit LZW horizontal predictor", with(grey16(), COMPRESSION_LZW, PREDICTOR_HORIZONTAL), 0},
      {"16-bit Deflate horizontal predictor tiled", with(grey16(), COMPRESSION_ADOBE_DEFLATE, 2, true), 0},
      {"16-bit Zstandard horizontal predictor", with(grey16(), COMPRESSION_ZSTD, PREDICTOR_HORIZONTAL), 0},
      {"float Deflate floating-point predictor", with(float32(), COMPRESSION_ADOBE_DEFLATE, 3), 0},
      {"float LZW floating-point predictor tiled", with(float32(), COMPRESSION_LZW, 3, true), 0},
      {"float Zstandard floating-point predictor", with(float32(), COMPRESSION_ZSTD, 3), 0},
      {"RGB WebP", with(rgb8(), COMPRESSION_WEBP), 16},
      {"RGB WebP tiled", with(rgb8(), COMPRESSION_WEBP, 1, true), 16},
      {"RGB JPEG", with(rgb8(), COMPRESSION_JPEG), 8},
      {"RGB Deflate horizontal predictor", with(rgb8(), COMPRESSION_ADOBE_DEFLATE, 2), 0},
      {"CCITT G3", with(bilevel(), COMPRESSION_CCITTFAX3), 0},
      {"CCITT G4", with(bilevel(), COMPRESSION_CCITTFAX4), 0},
      {"CCITT RLE", with(bilevel(), COMPRESSION_CCITTRLE), 0},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(TIFFIsCODECConfigured(c.compressed.compression)) << c.name;
    TempDir dir;
    IfdFixture plain = c.compressed;
    plain.compression = COMPRESSION_NONE;
    plain.predictor = 1;
    testing::write_tiff(dir / "plain.tif", {plain});
    testing::write_tiff(dir / "packed.tif", {c.compressed});
    auto expected = render_file(dir / "plain.tif");
    auto got = render_file(dir / "packed.tif");
    ASSERT_TRUE(expected) << c.name << ": " << expected.error();
    ASSERT_TRUE(got) << c.name << ": " << got.error();
    ASSERT_EQ(got->pixels().size(), expected->pixels().size()) << c.name;
    EXPECT_LE(max_difference(*got, *expected), c.tolerance) << c.name;
  }
}

TEST(CompressionTest, FaxDataHoldsOneSamplePerPixel) {
  for (std::uint16_t compression : {COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4, COMPRESSION_CCITTRLE}) {
    TempDir dir;
    testing::write_tiff(dir / "a.tif", {with(bilevel(), compression)});
    auto bytes = testing::read_bytes(dir / "a.tif");
    testing::set_inline_tag(bytes, 0, TIFFTAG_SAMPLESPERPIXEL, 3);
    testing::write_bytes(dir / "three.tif", bytes);
    ASSERT_TRUE(render_file(dir / "a.tif")) << compression;
    EXPECT_EQ(render_file(dir / "three.tif").error(), "unsupported error: 3 samples per pixel is unsupported")
        << compression;
  }
}

// JPEG data stored as YCbCr comes back from libtiff as RGB: its colours
// match libtiff's own RGBA reader and the source within the JPEG loss.
TEST(CompressionTest, JpegYCbCrShowsTheRightColours) {
  for (bool tiled : {false, true}) {
    TempDir dir;
    IfdFixture s = with(rgb8(), COMPRESSION_JPEG, 1, tiled);
    s.jpeg_ycbcr = true;
    testing::write_tiff(dir / "y.tif", {s});
    auto got = render_file(dir / "y.tif");
    ASSERT_TRUE(got) << got.error();
    EXPECT_EQ(got->channels, 3);

    TIFF* tif = TIFFOpen((dir / "y.tif").c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<std::uint32_t> reference(W * H);
    ASSERT_EQ(TIFFReadRGBAImageOriented(tif, W, H, reference.data(), ORIENTATION_TOPLEFT, 0), 1);
    TIFFClose(tif);
    int vs_reference = 0, vs_source = 0;
    for (std::uint32_t i = 0; i < W * H; ++i) {
      for (int ch = 0; ch < 3; ++ch) {
        const int ours = got->pixels()[4 * i + ch];
        vs_reference = std::max(vs_reference, std::abs(ours - static_cast<int>((reference[i] >> (8 * ch)) & 0xFF)));
        vs_source = std::max(vs_source, std::abs(ours - static_cast<int>(s.data[3 * i + ch])));
      }
    }
    EXPECT_LE(vs_reference, 1) << "tiled " << tiled;
    EXPECT_LE(vs_source, 24) << "tiled " << tiled;
  }
}

}  // namespace
}  // namespace brindle::tiff
