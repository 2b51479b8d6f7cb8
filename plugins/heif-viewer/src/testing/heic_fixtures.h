// Test support: pixel rasters, PNG files, child processes, and HEIC files
// made at test time with the system's heif-enc / heif-convert.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace brindle::heif::testing {

// Interleaved 8-bit pixels without row padding.
struct Raster {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  unsigned channels = 0;  // 3 or 4
  std::vector<std::uint8_t> bytes;
};

// A deterministic pattern with smooth and busy parts (so that lossy coding
// and averaging both have something to do); alpha varies across the image.
Raster make_pattern(std::uint32_t width, std::uint32_t height, unsigned channels);

// The straightforward area average, written without any of the product
// code's shortcuts: every target pixel sums its whole window.
Raster reference_box(const Raster& src, std::uint32_t tw, std::uint32_t th);

// RGB gains alpha 255.
Raster to_rgba(const Raster& src);

std::expected<void, std::string> write_png(const std::string& path, const Raster& raster);
std::expected<Raster, std::string> read_png(const std::string& path);

std::expected<std::vector<std::uint8_t>, std::string> read_file(const std::string& path);
std::expected<void, std::string> write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

struct ProcessResult {
  int exit_status = -1;  // -1 when killed by a signal
  std::string out;       // standard output
};

// Runs `argv` (argv[0] looked up in PATH) with `env` as its whole
// environment when given, else the test's; standard error is discarded.
std::expected<ProcessResult, std::string> run_process(const std::vector<std::string>& argv,
                                                      const std::vector<std::string>* env = nullptr);

// heif-enc (fast x265 preset) of `png` into `heic`.
std::expected<void, std::string> encode_heic(const std::string& png, const std::string& heic);

// heif-convert of `heic` into `png`.
std::expected<void, std::string> convert_to_png(const std::string& heic, const std::string& png);

// `file` with an `irot` property (anticlockwise quarter turns) attached to
// its primary item; sizes and item offsets are adjusted for the insertion.
std::expected<std::vector<std::uint8_t>, std::string> add_rotation(const std::vector<std::uint8_t>& file,
                                                                   unsigned quarter_turns);

// `file` with every `ispe` property claiming width × height, while the
// coded image keeps its real size.
std::expected<std::vector<std::uint8_t>, std::string> set_image_size(const std::vector<std::uint8_t>& file,
                                                                     std::uint32_t width, std::uint32_t height);

// `file` with the payload of its `mdat` box zeroed: the container still
// opens, the coded image no longer decodes.
std::vector<std::uint8_t> wipe_media_data(const std::vector<std::uint8_t>& file);

// A fresh directory under /tmp, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace brindle::heif::testing
