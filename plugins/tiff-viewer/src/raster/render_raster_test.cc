#include "raster/render_raster.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <cmath>
#include <limits>

#include "raster/render_test_util.h"
#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using testing::as_bytes;
using testing::IfdFixture;
using testing::pixels_of;
using testing::render_file;
using testing::Rgba;
using testing::TempDir;
using namespace std::string_literals;

IfdFixture raster(std::uint32_t w, std::uint32_t h, std::uint16_t bits, std::vector<std::uint8_t> data) {
  IfdFixture s;
  s.width = w;
  s.height = h;
  s.bits = bits;
  s.data = std::move(data);
  return s;
}

Rgba grey(std::uint8_t v, std::uint8_t a = 255) { return {v, v, v, a}; }

struct PixelCase {
  const char* name;
  IfdFixture ifd;
  std::uint8_t channels;
  std::vector<Rgba> expected;
};

std::vector<PixelCase> pixel_cases() {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<PixelCase> cases;
  cases.push_back({"8-bit grey", raster(4, 1, 8, {0, 1, 128, 255}), 1, {grey(0), grey(1), grey(128), grey(255)}});
  {
    IfdFixture s = raster(8, 1, 1, {0b01010101});
    s.photometric = PHOTOMETRIC_MINISWHITE;
    cases.push_back({"1-bit WhiteIsZero", s, 1,
                     {grey(255), grey(0), grey(255), grey(0), grey(255), grey(0), grey(255), grey(0)}});
  }
  cases.push_back({"4-bit", raster(2, 1, 4, {0x7F}), 1, {grey(119), grey(255)}});
  cases.push_back({"16-bit stretch", raster(3, 1, 16, as_bytes<std::uint16_t>({1000, 2000, 3000})), 1,
                   {grey(0), grey(128), grey(255)}});
  cases.push_back({"16-bit constant", raster(2, 1, 16, as_bytes<std::uint16_t>({500, 500})), 1, {grey(128), grey(128)}});
  {
    // 1000, 2048, 3000 packed as 12-bit samples.
    IfdFixture s = raster(3, 1, 12, {0x3E, 0x88, 0x00, 0xBB, 0x80});
    cases.push_back({"12-bit computed range", s, 1, {grey(0), grey(134), grey(255)}});
    s.gdal_metadata = R"(<Item name="STATISTICS_MINIMUM" sample="0">0</Item>)"
                      R"(<Item name="STATISTICS_MAXIMUM" sample="0">4095</Item>)"s + '\0';
    cases.push_back({"12-bit GDAL statistics", s, 1, {grey(62), grey(128), grey(187)}});
    s.gdal_metadata = R"(<Item name="STATISTICS_MINIMUM">7</Item><Item name="STATISTICS_MAXIMUM">7</Item>)"s + '\0';
    cases.push_back({"12-bit statistics min = max", s, 1, {grey(0), grey(134), grey(255)}});
  }
  {
    IfdFixture s = raster(3, 2, 32, as_bytes<float>({0, 10, nan, inf, -inf, 5}));
    s.sample_format = SAMPLEFORMAT_IEEEFP;
    cases.push_back({"float NaN and infinities", s, 1,
                     {grey(0), grey(255), grey(0), grey(255), grey(0), grey(128)}});
  }
  {
    IfdFixture s = raster(3, 1, 16, as_bytes<std::uint16_t>({0x3C00, 0x4000, 0x7E00}));
    s.sample_format = SAMPLEFORMAT_IEEEFP;
    cases.push_back({"half floats", s, 1, {grey(0), grey(255), grey(0)}});
  }
  {
    IfdFixture s = raster(3, 1, 16, as_bytes<std::int16_t>({-100, 0, 100}));
    s.sample_format = SAMPLEFORMAT_INT;
    cases.push_back({"signed 16-bit", s, 1, {grey(0), grey(128), grey(255)}});
  }
  {
    IfdFixture s = raster(2, 1, 8, {10, 20, 30, 255, 40, 50, 60, 0});
    s.samples_per_pixel = 4;
    s.photometric = PHOTOMETRIC_RGB;
    s.extra_samples = {EXTRASAMPLE_UNASSALPHA};
    cases.push_back({"RGB with alpha", s, 4, {{10, 20, 30, 255}, {40, 50, 60, 0}}});
    s.extra_samples = {EXTRASAMPLE_UNSPECIFIED};
    cases.push_back({"RGB with an unspecified extra sample", s, 3, {{10, 20, 30, 255}, {40, 50, 60, 255}}});
  }
  {
    IfdFixture s = raster(2, 1, 8, {0, 0, 0, 0, 0, 100, 200, 255});
    s.samples_per_pixel = 4;
    s.photometric = PHOTOMETRIC_SEPARATED;
    cases.push_back({"CMYK", s, 3, {{255, 255, 255, 255}, {0, 0, 0, 255}}});
  }
  {
    IfdFixture s = raster(2, 1, 8, {255, 128, 128, 76, 85, 255});
    s.samples_per_pixel = 3;
    s.photometric = PHOTOMETRIC_YCBCR;
    s.ycbcr_subsampling = 1;
    // (76, 85, 255): R = 76 + 1.402 * 127 = 254.05, G = 76 + 0.344136 * 43 - 0.714136 * 127 = -0.9,
    // B = 76 - 1.772 * 43 = -0.2.
    cases.push_back({"YCbCr", s, 3, {{255, 255, 255, 255}, {254, 0, 0, 255}}});
  }
  {
    IfdFixture s = raster(2, 1, 4, {0x35});
    s.photometric = PHOTOMETRIC_PALETTE;
    std::vector<std::uint16_t> map(48);
    for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<std::uint16_t>(i * 1000);
    map[5] = 65535;
    s.color_map = map;
    // Index 3: entries 3, 19, 35; index 5: entries 5, 21, 37.
    cases.push_back({"4-bit palette", s, 3, {{12, 74, 136, 255}, {255, 82, 144, 255}}});
  }
  {
    IfdFixture s = raster(3, 1, 16, as_bytes<std::uint16_t>({0, 100, 200}));
    s.gdal_nodata = "0"s + '\0';
    cases.push_back({"no-data", s, 1, {{0, 0, 0, 0}, grey(0), grey(255)}});
    s.gdal_nodata = "100.5"s + '\0';  // matches no integer sample
    cases.push_back({"fractional no-data", s, 1, {grey(0), grey(128), grey(255)}});
    s.gdal_nodata = "nan"s + '\0';
    cases.push_back({"NaN no-data", s, 1, {grey(0), grey(128), grey(255)}});
  }
  return cases;
}

TEST(RenderRasterTest, PixelsOfEveryKind) {
  for (const auto& c : pixel_cases()) {
    TempDir dir;
    testing::write_tiff(dir / "a.tif", {c.ifd});
    auto r = render_file(dir / "a.tif");
    ASSERT_TRUE(r) << c.name << ": " << r.error();
    EXPECT_EQ(r->channels, c.channels) << c.name;
    EXPECT_EQ(r->bit_depth, c.ifd.bits) << c.name;
    EXPECT_EQ(pixels_of(*r), c.expected) << c.name;
  }
}

TEST(RenderRasterTest, ColorMapTooShortForAnIndex) {
  TempDir dir;
  IfdFixture s = raster(2, 1, 4, {0x3A});  // indices 3 and 10
  s.photometric = PHOTOMETRIC_PALETTE;
  std::vector<std::uint16_t> map(48);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<std::uint16_t>(i * 1000);
  s.color_map = map;
  testing::write_tiff(dir / "a.tif", {s});
  auto bytes = testing::read_bytes(dir / "a.tif");
  // Declare only 40 of the 48 entries.
  const std::size_t ifd = testing::ifd_offset(bytes, 0);
  for (std::size_t e = 0; e < bytes[ifd]; ++e) {
    const std::size_t entry = ifd + 2 + 12 * e;
    if ((bytes[entry] | bytes[entry + 1] << 8) == TIFFTAG_COLORMAP) bytes[entry + 4] = 40;
  }
  testing::write_bytes(dir / "short.tif", bytes);
  auto r = render_file(dir / "short.tif");
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->channels, 3);
  // Index 10 takes red from entry 10 and green from 26; blue (42) is missing.
  EXPECT_EQ(pixels_of(*r), (std::vector<Rgba>{{12, 74, 136, 255}, {39, 101, 0, 255}}));
}

TEST(RenderRasterTest, PartialNoDataCoverage) {
  TempDir dir;
  IfdFixture s = raster(2, 2, 8, {7, 100, 100, 100});
  s.gdal_nodata = "7"s + '\0';
  testing::write_tiff(dir / "a.tif", {s});
  auto r = render_file(dir / "a.tif", 2);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(pixels_of(*r), (std::vector<Rgba>{grey(100, 191)}));  // 3 of 4 samples
}

// Box averages computed directly from the samples.
std::vector<Rgba> box_average(const std::vector<std::uint8_t>& v, std::uint32_t w, std::uint32_t h, std::uint32_t t) {
  std::vector<Rgba> out;
  for (std::uint32_t oy = 0; oy * t < h; ++oy) {
    for (std::uint32_t ox = 0; ox * t < w; ++ox) {
      float sum = 0;
      int n = 0;
      for (std::uint32_t y = oy * t; y < std::min(h, (oy + 1) * t); ++y) {
        for (std::uint32_t x = ox * t; x < std::min(w, (ox + 1) * t); ++x) sum += v[y * w + x], ++n;
      }
      out.push_back(grey(static_cast<std::uint8_t>(std::lround(sum / n))));
    }
  }
  return out;
}

TEST(RenderRasterTest, FactorGeometry) {
  TempDir dir;
  std::vector<std::uint8_t> v(15);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i * 17);
  testing::write_tiff(dir / "a.tif", {raster(5, 3, 8, v)});
  IfdFixture tiled = raster(5, 3, 8, v);
  tiled.tile_width = tiled.tile_height = 16;
  testing::write_tiff(dir / "t.tif", {tiled});

  for (const char* name : {"a.tif", "t.tif"}) {
    auto r = render_file(dir / name, 2);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->width, 3u);
    EXPECT_EQ(r->height, 2u);
    // Edge pixels stand for 1x2, 2x1 and 1x1 samples and stay opaque.
    EXPECT_EQ(pixels_of(*r), box_average(v, 5, 3, 2)) << name;
    auto zero = render_file(dir / name, 0);
    auto one = render_file(dir / name, 1);
    ASSERT_TRUE(zero && one);
    EXPECT_EQ(std::vector<std::uint8_t>(zero->pixels().begin(), zero->pixels().end()), std::vector<std::uint8_t>(one->pixels().begin(), one->pixels().end()));
    EXPECT_EQ(pixels_of(*one), box_average(v, 5, 3, 1)) << name;
  }
}

TEST(RenderRasterTest, FactorsBeyondTwoHundredFiftySix) {
  TempDir dir;
  std::vector<std::uint8_t> v(600 * 3);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>((i * 7) % 256);
  testing::write_tiff(dir / "a.tif", {raster(600, 3, 8, v)});
  auto r = render_file(dir / "a.tif", 512);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(pixels_of(*r), box_average(v, 600, 3, 512));
  r = render_file(dir / "a.tif", 256);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(pixels_of(*r), box_average(v, 600, 3, 256));
}

// Packs values of `bits` bits per sample, most significant bit first, each
// row padded to a byte.
std::vector<std::uint8_t> pack_rows(const std::vector<std::uint16_t>& v, std::uint32_t w, unsigned bits) {
  const std::size_t row_bytes = (std::size_t{w} * bits + 7) / 8;
  std::vector<std::uint8_t> out(row_bytes * (v.size() / w));
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::size_t bit = (i / w) * row_bytes * 8 + (i % w) * bits;
    for (unsigned b = 0; b < bits; ++b) {
      if ((v[i] >> (bits - 1 - b)) & 1u) out[(bit + b) / 8] |= static_cast<std::uint8_t>(0x80 >> ((bit + b) % 8));
    }
  }
  return out;
}

// An image as its sample values, pixel-interleaved.
struct SampleImage {
  std::vector<std::uint16_t> v;
  std::uint32_t w = 0, h = 0, k = 1;
  unsigned bits = 8;
  int alpha = -1;  // index of the alpha sample
  std::optional<std::uint16_t> nodata;
};

// The expected level pixels straight from the values: box averages of the
// accepted pixels, scaled by bit depth up to 8 bits and stretched over the
// window's averages above, coverage (times mean alpha) as alpha.
std::vector<Rgba> expected_pixels(const SampleImage& im, std::uint32_t t, Window win) {
  const unsigned bands = im.k >= 3 ? 3 : 1;
  struct Cell {
    double avg[4];
    int n, cells;
  };
  std::vector<Cell> cells;
  double lo[3] = {1e9, 1e9, 1e9}, hi[3] = {-1e9, -1e9, -1e9};
  for (std::uint32_t oy = win.y; oy < win.y + win.height && oy * t < im.h; ++oy) {
    for (std::uint32_t ox = win.x; ox < win.x + win.width && ox * t < im.w; ++ox) {
      Cell cell{{0, 0, 0, 0}, 0, 0};
      for (std::uint32_t y = oy * t; y < std::min(im.h, (oy + 1) * t); ++y) {
        for (std::uint32_t x = ox * t; x < std::min(im.w, (ox + 1) * t); ++x, ++cell.cells) {
          const std::uint16_t* px = &im.v[(std::size_t{y} * im.w + x) * im.k];
          if (im.nodata && px[0] == *im.nodata) continue;
          for (unsigned b = 0; b < bands; ++b) cell.avg[b] += px[b];
          if (im.alpha >= 0) cell.avg[3] += px[im.alpha];
          ++cell.n;
        }
      }
      for (double& a : cell.avg) a = cell.n ? a / cell.n : 0;
      for (unsigned b = 0; b < bands && cell.n; ++b) lo[b] = std::min(lo[b], cell.avg[b]), hi[b] = std::max(hi[b], cell.avg[b]);
      cells.push_back(cell);
    }
  }
  const double top = im.bits < 16 ? (1 << im.bits) - 1 : 65535;
  auto byte = [](double x) { return static_cast<std::uint8_t>(std::lround(std::clamp(x, 0.0, 255.0))); };
  std::vector<Rgba> out;
  for (const Cell& c : cells) {
    if (c.n == 0) {
      out.push_back({0, 0, 0, 0});
      continue;
    }
    Rgba px{};
    for (unsigned b = 0; b < 3; ++b) {
      const unsigned band = bands == 3 ? b : 0;
      px[b] = byte(im.bits <= 8 ? c.avg[band] * 255 / top : (c.avg[band] - lo[band]) / (hi[band] - lo[band]) * 255);
    }
    const double coverage = static_cast<double>(c.n) / c.cells;
    px[3] = byte(255 * coverage * (im.alpha >= 0 ? c.avg[3] / top : 1));
    out.push_back(px);
  }
  return out;
}

IfdFixture fixture_of(const SampleImage& im) {
  std::vector<std::uint8_t> data;
  if (im.bits == 16) {
    data = as_bytes<std::uint16_t>(im.v);
  } else if (im.bits == 8) {
    data.assign(im.v.begin(), im.v.end());
  } else {
    data = pack_rows(im.v, im.w * im.k, im.bits);
  }
  IfdFixture s = raster(im.w, im.h, static_cast<std::uint16_t>(im.bits), data);
  s.samples_per_pixel = static_cast<std::uint16_t>(im.k);
  if (im.k >= 3) s.photometric = PHOTOMETRIC_RGB;
  if (im.alpha >= 0) s.extra_samples = {EXTRASAMPLE_UNASSALPHA};
  if (im.nodata) s.gdal_nodata = std::to_string(*im.nodata) + '\0';
  return s;
}

// Grey, packed, colour and alpha samples are summed without floats; every
// factor and window must give the box average of the values.
TEST(RenderRasterTest, IntegerSamplesAtEveryFactorAndWindow) {
  constexpr std::uint32_t W = 37, H = 11;
  struct Case {
    const char* name;
    unsigned bits, k;
    int alpha;
    std::optional<std::uint16_t> nodata;
    bool tiled;
  };
  const Case cases[] = {
      {"1-bit", 1, 1, -1, {}, false},          {"2-bit", 2, 1, -1, {}, false},
      {"4-bit", 4, 1, -1, {}, false},          {"4-bit no-data", 4, 1, -1, 5, false},
      {"12-bit", 12, 1, -1, {}, false},        {"12-bit no-data", 12, 1, -1, 2000, false},
      {"8-bit grey no-data", 8, 1, -1, 7, true}, {"8-bit grey with alpha", 8, 2, 1, {}, false},
      {"8-bit RGB", 8, 3, -1, {}, true},       {"8-bit RGBA no-data", 8, 4, 3, 9, false},
      {"16-bit RGB no-data", 16, 3, -1, 300, false}, {"16-bit RGBA", 16, 4, 3, {}, true},
      {"4-bit RGB", 4, 3, -1, {}, false},      {"2-bit grey with alpha no-data", 2, 2, 1, 1, false},
      {"12-bit RGBA", 12, 4, 3, {}, false},    {"1-bit, five samples", 1, 5, -1, {}, false},
  };
  for (const Case& c : cases) {
    SampleImage im{std::vector<std::uint16_t>(std::size_t{W} * H * c.k), W, H, c.k, c.bits, c.alpha, c.nodata};
    const std::uint32_t values = c.bits == 16 ? 1000 : 1u << c.bits;  // a narrow 16-bit range stretches
    for (std::size_t i = 0; i < im.v.size(); ++i) im.v[i] = static_cast<std::uint16_t>((i * 2654435761u >> 7) % values);
    if (c.nodata) {
      for (std::size_t p : {3, 40, 41}) im.v[p * c.k] = *c.nodata;
    }
    IfdFixture s = fixture_of(im);
    s.rows_per_strip = 4;
    if (c.tiled) s.tile_width = s.tile_height = 16;
    TempDir dir;
    testing::write_tiff(dir / "a.tif", {s});
    for (std::uint32_t t : {1u, 2u, 3u, 5u}) {
      for (Window win : {Window{0, 0, W, H}, Window{1, 1, 5, 2}}) {
        const std::string name = std::string(c.name) + ", factor " + std::to_string(t) + ", " + debug_text(win);
        auto r = render_file(dir / "a.tif", t, win);
        ASSERT_TRUE(r) << name << ": " << r.error();
        const auto want = expected_pixels(im, t, win);
        const auto got = pixels_of(*r);
        ASSERT_EQ(got.size(), want.size()) << name;
        for (std::size_t i = 0; i < got.size(); ++i) {
          for (int ch = 0; ch < 4; ++ch) ASSERT_NEAR(got[i][ch], want[i][ch], 1) << name << ", pixel " << i << "." << ch;
        }
      }
    }
  }
}

#if !defined(__SANITIZE_ADDRESS__)
// A strip that lies beyond the end of the file fails to read; its decoding
// buffer (up to 256 MiB) must not have been written first. Counted in page
// faults, which sanitizer allocators add of their own.
TEST(RenderRasterTest, UnreadableStripCostsNoBufferPages) {
  TempDir dir;
  IfdFixture s = raster(8u << 20, 2, 8, {});  // rows of 8 MiB: no smaller strips
  s.rows_per_strip = 2;  // one strip, its offset held in the entry
  testing::write_tiff(dir / "a.tif", {s});
  auto bytes = testing::read_bytes(dir / "a.tif");
  testing::set_inline_tag(bytes, 0, TIFFTAG_STRIPOFFSETS, 0x70000000);
  testing::write_bytes(dir / "far.tif", bytes);
  auto faults = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
  };
  const long before = faults();
  auto r = render_file(dir / "far.tif", 2);
  const long taken = faults() - before;
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().rfind("chunk 0: ", 0), 0u) << r.error();
  EXPECT_LT(taken, 1024) << "pages touched";  // the strip is 2048 pages
}

// A strip of 1-bit samples becomes floats a slice of rows at a time: 64
// samples per pixel, all of them reaching the picture (alpha is the last),
// make a 2 MiB strip 64 MiB of floats at once.
TEST(RenderRasterTest, PackedSamplesBecomeFloatsASliceAtATime) {
  TempDir dir;
  IfdFixture s = raster(4096, 64, 1, {});
  s.samples_per_pixel = 64;
  s.extra_samples.assign(63, EXTRASAMPLE_UNSPECIFIED);
  s.extra_samples.back() = EXTRASAMPLE_UNASSALPHA;
  s.rows_per_strip = 64;
  s.compression = COMPRESSION_ADOBE_DEFLATE;  // one strip, not cut up on reading
  testing::write_tiff(dir / "a.tif", {s});
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const long before = u.ru_minflt;
  auto r = render_file(dir / "a.tif", 4);
  getrusage(RUSAGE_SELF, &u);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->channels, 4);  // three or more samples are colour
  EXPECT_LT(u.ru_minflt - before, 8192) << "pages touched";  // 16 MiB of floats at a time
}
#endif

TEST(RenderRasterTest, DecodesOnlyTheStripsUnderTheWindow) {
  TempDir dir;
  IfdFixture s = raster(100, 512, 8, {});
  s.rows_per_strip = 16;
  testing::write_tiff(dir / "a.tif", {s});
  RenderStats stats;
  auto r = render_file(dir / "a.tif", 1, Window{0, 100, 100, 20}, &stats);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(stats.decoded_chunks, (std::vector<std::uint32_t>{6, 7}));
  stats = {};
  r = render_file(dir / "a.tif", 4, Window{0, 100, 25, 20}, &stats);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(stats.decoded_chunks, (std::vector<std::uint32_t>{25, 26, 27, 28, 29}));
}

TEST(RenderRasterTest, DecodesOnlyTheTilesUnderTheWindow) {
  TempDir dir;
  IfdFixture s = raster(100, 100, 8, {});
  s.tile_width = s.tile_height = 32;  // 4 x 4 tiles
  testing::write_tiff(dir / "a.tif", {s});
  RenderStats stats;
  ASSERT_TRUE(render_file(dir / "a.tif", 1, Window{40, 40, 30, 10}, &stats));
  EXPECT_EQ(stats.decoded_chunks, (std::vector<std::uint32_t>{5, 6}));
}

TEST(RenderRasterTest, WindowsAreValidatedAndClipped) {
  TempDir dir;
  std::vector<std::uint8_t> v(100 * 80);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i % 251);
  testing::write_tiff(dir / "a.tif", {raster(100, 80, 8, v)});
  auto r = render_file(dir / "a.tif", 1, Window{90, 70, 64, 64});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->width, 10u);
  EXPECT_EQ(r->height, 10u);
  EXPECT_EQ(pixels_of(*r)[0], grey(v[70 * 100 + 90]));
  EXPECT_EQ(pixels_of(*r)[99], grey(v[79 * 100 + 99]));

  EXPECT_EQ(render_file(dir / "a.tif", 1, Window{120, 0, 10, 10}).error(),
            "window Window { x: 120, y: 0, width: 10, height: 10 } outside level 100\u00d780");
  EXPECT_EQ(render_file(dir / "a.tif", 1, Window{5, 5, 0, 10}).error(),
            "window Window { x: 5, y: 5, width: 0, height: 10 } outside level 100\u00d780");
  EXPECT_EQ(render_file(dir / "a.tif", 4, Window{0, 20, 1, 1}).error(),
            "window Window { x: 0, y: 20, width: 1, height: 1 } outside level 25\u00d720");
}

TEST(RenderRasterTest, PlanarRgbTakesNoDataAndCountsFromPlaneZero) {
  TempDir dir;
  IfdFixture s = raster(2, 1, 8, {10, 0, 20, 50, 30, 60});  // R plane, G plane, B plane
  s.samples_per_pixel = 3;
  s.photometric = PHOTOMETRIC_RGB;
  s.planar = true;
  s.gdal_nodata = "0"s + '\0';
  testing::write_tiff(dir / "a.tif", {s});
  auto r = render_file(dir / "a.tif");
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(pixels_of(*r), (std::vector<Rgba>{{10, 20, 30, 255}, {0, 0, 0, 0}}));
}

TEST(RenderRasterTest, RegionRangesComeFromTheReuseList) {
  TempDir dir;
  testing::write_tiff(dir / "a.tif", {raster(4, 1, 16, as_bytes<std::uint16_t>({0, 100, 200, 300}))});
  auto own = render_file(dir / "a.tif", 1, Window{2, 0, 2, 1});
  ASSERT_TRUE(own);
  EXPECT_EQ(pixels_of(*own), (std::vector<Rgba>{grey(0), grey(255)}));
  EXPECT_EQ(own->band_ranges, (std::vector<BandRange>{{200, 300}}));
  const std::vector<BandRange> kept = {{0, 300}};
  auto shared = render_file(dir / "a.tif", 1, Window{2, 0, 2, 1}, nullptr, &kept);
  ASSERT_TRUE(shared);
  EXPECT_EQ(pixels_of(*shared), (std::vector<Rgba>{grey(170), grey(255)}));
}

}  // namespace
}  // namespace brindle::tiff
