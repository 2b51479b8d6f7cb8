// Test fixtures: small TIFF files written by libtiff itself into a
// per-test temporary directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindle::tiff::testing {

// One IFD to write.
struct IfdFixture {
  std::uint32_t width = 1;
  std::uint32_t height = 1;
  std::uint16_t samples_per_pixel = 1;
  std::uint16_t bits = 8;
  std::uint16_t sample_format = 1;
  std::uint16_t photometric = 1;
  bool planar = false;
  std::uint16_t compression = 1;
  std::uint16_t predictor = 1;
  std::uint32_t tile_width = 0;  // 0: strips
  std::uint32_t tile_height = 0;
  std::uint32_t rows_per_strip = 0;  // 0: libtiff's default
  std::optional<std::uint32_t> subfile_type;
  std::vector<std::uint16_t> extra_samples;
  std::optional<std::vector<std::uint16_t>> color_map;  // 3 * 2^bits entries
  // Exact tag bytes, terminating NUL included.
  std::optional<std::string> gdal_nodata;
  std::optional<std::string> gdal_metadata;
  // JPEG: hand RGB to libtiff and store YCbCr.
  bool jpeg_ycbcr = false;
  std::uint16_t ycbcr_subsampling = 0;  // 0: not written
  int jpeg_quality = 90;
  // Raw samples in native byte order: rows of the whole image (packed
  // and byte-padded per row below 8 bits), plane after plane when planar.
  // Empty: zeros.
  std::vector<std::uint8_t> data;
};

// A Deflate-compressed grey image of the given size.
inline IfdFixture deflate_grey(std::uint32_t width, std::uint32_t height, std::uint16_t bits = 8) {
  IfdFixture s;
  s.width = width;
  s.height = height;
  s.bits = bits;
  s.compression = 8;  // COMPRESSION_ADOBE_DEFLATE
  return s;
}

struct FileOptions {
  bool big_tiff = false;
  bool big_endian = false;
};

// Writes the IFDs as one file; fails the calling test on a libtiff error.
void write_tiff(const std::filesystem::path& path, const std::vector<IfdFixture>& ifds, FileOptions options = {});

std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path);
void write_bytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Edits a classic little-endian file written by write_tiff: the offset of
// IFD `ifd`, and the in-place value of a SHORT or LONG tag of that IFD
// (fails the test when the tag is missing).
std::size_t ifd_offset(const std::vector<std::uint8_t>& bytes, int ifd);
void set_inline_tag(std::vector<std::uint8_t>& bytes, int ifd, std::uint16_t tag, std::uint32_t value);
// Where the value of that tag is stored (its inline field or its array).
std::size_t tag_value_offset(const std::vector<std::uint8_t>& bytes, int ifd, std::uint16_t tag);

// A fresh empty directory under the system temp directory, removed by the
// destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Samples of type T in native byte order, as raw bytes.
template <typename T>
std::vector<std::uint8_t> as_bytes(const std::vector<T>& values) {
  std::vector<std::uint8_t> out(values.size() * sizeof(T));
  if (!values.empty()) __builtin_memcpy(out.data(), values.data(), out.size());
  return out;
}

}  // namespace brindle::tiff::testing
