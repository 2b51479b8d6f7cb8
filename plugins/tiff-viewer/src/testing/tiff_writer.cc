#include "testing/tiff_writer.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace brindle::tiff::testing {
namespace {

const TIFFFieldInfo GDAL_FIELDS[] = {
    {42112, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_ASCII, FIELD_CUSTOM, 1, 1, const_cast<char*>("GDALMetadata")},
    {42113, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_ASCII, FIELD_CUSTOM, 1, 1, const_cast<char*>("GDALNoData")},
};

std::size_t row_bytes(std::uint64_t samples, unsigned bits) { return static_cast<std::size_t>((samples * bits + 7) / 8); }

void write_ifd(TIFF* tif, const IfdFixture& s) {
  // libtiff forgets merged fields when it starts the next directory.
  if (TIFFFindField(tif, 42112, TIFF_ANY) == nullptr) TIFFMergeFieldInfo(tif, GDAL_FIELDS, 2);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples_per_pixel);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, s.sample_format);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
  if (s.jpeg_ycbcr) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  } else {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
  }
  if (s.ycbcr_subsampling) TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, s.ycbcr_subsampling, s.ycbcr_subsampling);
  if (s.compression == COMPRESSION_JPEG) TIFFSetField(tif, TIFFTAG_JPEGQUALITY, s.jpeg_quality);
  if (s.predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, s.predictor);
  if (s.subfile_type) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, *s.subfile_type);
  if (!s.extra_samples.empty()) {
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(s.extra_samples.size()),
                 s.extra_samples.data());
  }
  if (s.color_map) {
    const std::size_t n = s.color_map->size() / 3;
    TIFFSetField(tif, TIFFTAG_COLORMAP, s.color_map->data(), s.color_map->data() + n, s.color_map->data() + 2 * n);
  }
  if (s.gdal_nodata) {
    TIFFSetField(tif, 42113, static_cast<std::uint32_t>(s.gdal_nodata->size()), s.gdal_nodata->data());
  }
  if (s.gdal_metadata) {
    TIFFSetField(tif, 42112, static_cast<std::uint32_t>(s.gdal_metadata->size()), s.gdal_metadata->data());
  }

  const std::uint64_t spp_chunk = s.planar ? 1 : s.samples_per_pixel;
  const std::uint32_t planes = s.planar ? s.samples_per_pixel : 1;
  const std::size_t image_row = row_bytes(spp_chunk * s.width, s.bits);
  const std::size_t plane_bytes = image_row * s.height;
  std::vector<std::uint8_t> data = s.data;
  data.resize(plane_bytes * planes);

  if (s.tile_width != 0) {
    ASSERT_EQ(s.bits % 8, 0) << "tiled fixtures use whole-byte samples";
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile_width);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile_height);
    const std::size_t pixel = spp_chunk * s.bits / 8;
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(s.tile_width) * s.tile_height * pixel);
    for (std::uint32_t p = 0; p < planes; ++p) {
      for (std::uint32_t ty = 0; ty < s.height; ty += s.tile_height) {
        for (std::uint32_t tx = 0; tx < s.width; tx += s.tile_width) {
          std::fill(tile.begin(), tile.end(), 0);
          for (std::uint32_t r = 0; r < s.tile_height && ty + r < s.height; ++r) {
            const std::uint32_t cols = std::min(s.tile_width, s.width - tx);
            std::memcpy(tile.data() + r * s.tile_width * pixel,
                        data.data() + p * plane_bytes + (ty + r) * image_row + tx * pixel, cols * pixel);
          }
          const std::uint32_t index = TIFFComputeTile(tif, tx, ty, 0, static_cast<std::uint16_t>(p));
          ASSERT_GE(TIFFWriteEncodedTile(tif, index, tile.data(), static_cast<tmsize_t>(tile.size())), 0);
        }
      }
    }
  } else {
    const std::uint32_t rps = s.rows_per_strip ? s.rows_per_strip : TIFFDefaultStripSize(tif, 0);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
    const std::uint32_t strips_per_plane = (s.height + rps - 1) / rps;
    for (std::uint32_t p = 0; p < planes; ++p) {
      for (std::uint32_t i = 0; i < strips_per_plane; ++i) {
        const std::uint32_t rows = std::min(rps, s.height - i * rps);
        ASSERT_GE(TIFFWriteEncodedStrip(tif, p * strips_per_plane + i,
                                        data.data() + p * plane_bytes + static_cast<std::size_t>(i) * rps * image_row,
                                        static_cast<tmsize_t>(rows * image_row)),
                  0);
      }
    }
  }
  ASSERT_EQ(TIFFWriteDirectory(tif), 1);
}

}  // namespace

void write_tiff(const std::filesystem::path& path, const std::vector<IfdFixture>& ifds, FileOptions options) {
  std::string mode = "w";
  mode += options.big_endian ? "b" : "l";
  if (options.big_tiff) mode += "8";
  TIFF* tif = TIFFOpen(path.c_str(), mode.c_str());
  ASSERT_NE(tif, nullptr) << path;
  for (const auto& ifd : ifds) {
    write_ifd(tif, ifd);
    if (::testing::Test::HasFatalFailure()) break;
  }
  TIFFClose(tif);
}

std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {

std::uint32_t u32_le(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::size_t find_entry(const std::vector<std::uint8_t>& b, int ifd, std::uint16_t tag) {
  const std::size_t at = ifd_offset(b, ifd);
  const std::size_t count = b[at] | b[at + 1] << 8;
  for (std::size_t e = 0; e < count; ++e) {
    const std::size_t entry = at + 2 + 12 * e;
    if ((b[entry] | b[entry + 1] << 8) == tag) return entry;
  }
  ADD_FAILURE() << "tag " << tag << " not in IFD " << ifd;
  return 0;
}

}  // namespace

std::size_t ifd_offset(const std::vector<std::uint8_t>& b, int ifd) {
  std::size_t at = u32_le(b, 4);
  for (int i = 0; i < ifd; ++i) at = u32_le(b, at + 2 + 12 * (b[at] | b[at + 1] << 8));
  return at;
}

void set_inline_tag(std::vector<std::uint8_t>& b, int ifd, std::uint16_t tag, std::uint32_t value) {
  const std::size_t entry = find_entry(b, ifd, tag);
  if (entry == 0) return;
  const bool is_short = (b[entry + 2] | b[entry + 3] << 8) == TIFF_SHORT;
  if (is_short && value > 0xFFFF) {
    b[entry + 2] = TIFF_LONG;  // widen in place
    b[entry + 3] = 0;
  }
  for (int i = 0; i < 4; ++i) b[entry + 8 + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::size_t tag_value_offset(const std::vector<std::uint8_t>& b, int ifd, std::uint16_t tag) {
  const std::size_t entry = find_entry(b, ifd, tag);
  const std::size_t type = b[entry + 2] | b[entry + 3] << 8;
  const std::size_t size = (type == TIFF_SHORT ? 2 : 4) * u32_le(b, entry + 4);
  return size <= 4 ? entry + 8 : u32_le(b, entry + 8);
}

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / ("tiff-viewer-test-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace brindle::tiff::testing
