// Writes the benchmark inputs with libtiff into a directory:
//   big.tif    40000 x 40000 8-bit grey, 256 x 256 Deflate tiles, BigTIFF,
//              with internal overviews down to 313 x 313
//   pages.tif  5000 pages of 64 x 64
//   geo16.tif  10000 x 8000 16-bit grey GeoTIFF, 256 x 256 Deflate tiles,
//              horizontal predictor, GDAL_NODATA 0 around an island
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const TIFFFieldInfo GDAL_NODATA_FIELD[] = {
    {42113, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_ASCII, FIELD_CUSTOM, 1, 1, const_cast<char*>("GDALNoData")}};

template <typename T, typename F>
bool write_tiled(TIFF* t, std::uint32_t w, std::uint32_t h, int bits, bool reduced, int predictor, F value) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_ZIPQUALITY, 1);
  if (predictor != 1) TIFFSetField(t, TIFFTAG_PREDICTOR, predictor);
  TIFFSetField(t, TIFFTAG_TILEWIDTH, 256);
  TIFFSetField(t, TIFFTAG_TILELENGTH, 256);
  if (reduced) TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  std::vector<T> tile(256 * 256);
  for (std::uint32_t ty = 0; ty < h; ty += 256) {
    for (std::uint32_t tx = 0; tx < w; tx += 256) {
      for (std::uint32_t r = 0; r < 256; ++r) {
        for (std::uint32_t c = 0; c < 256; ++c) {
          tile[r * 256 + c] = (ty + r < h && tx + c < w) ? value(tx + c, ty + r) : T{};
        }
      }
      if (TIFFWriteEncodedTile(t, TIFFComputeTile(t, tx, ty, 0, 0), tile.data(), tile.size() * sizeof(T)) < 0) {
        return false;
      }
    }
  }
  return TIFFWriteDirectory(t) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];

  TIFF* t = TIFFOpen((dir + "/big.tif").c_str(), "w8");
  if (!t) return 1;
  for (std::uint32_t size = 40000, level = 0; size >= 256; size = (size + 1) / 2, ++level) {
    const double scale = 40000.0 / size;
    if (!write_tiled<std::uint8_t>(t, size, size, 8, level > 0, 1, [&](std::uint32_t x, std::uint32_t y) {
          const double u = x * scale, v = y * scale;
          return static_cast<std::uint8_t>(128 + 60 * std::sin(u * 0.002) + 60 * std::cos(v * 0.0013));
        })) {
      return 1;
    }
  }
  TIFFClose(t);

  t = TIFFOpen((dir + "/pages.tif").c_str(), "w");
  if (!t) return 1;
  for (int page = 0; page < 5000; ++page) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 64);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 64);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 64);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    std::vector<std::uint8_t> px(64 * 64, static_cast<std::uint8_t>(page));
    if (TIFFWriteEncodedStrip(t, 0, px.data(), px.size()) < 0 || TIFFWriteDirectory(t) != 1) return 1;
  }
  TIFFClose(t);

  t = TIFFOpen((dir + "/geo16.tif").c_str(), "w");
  if (!t) return 1;
  TIFFMergeFieldInfo(t, GDAL_NODATA_FIELD, 1);
  const char nodata[] = "0";
  TIFFSetField(t, 42113, static_cast<std::uint32_t>(sizeof nodata), nodata);
  if (!write_tiled<std::uint16_t>(t, 10000, 8000, 16, false, PREDICTOR_HORIZONTAL, [](std::uint32_t x, std::uint32_t y) {
        const double u = x / 10000.0, v = y / 8000.0, dx = u - 0.5, dy = v - 0.5;
        if (dx * dx + dy * dy > 0.2) return std::uint16_t{0};
        return static_cast<std::uint16_t>(1500 + 900 * std::sin(u * 23) * std::cos(v * 17) + 300 * std::sin(u * 211 + v * 97) +
                                          (x * 7 + y * 13) % 17);
      })) {
    return 1;
  }
  TIFFClose(t);
  return 0;
}
