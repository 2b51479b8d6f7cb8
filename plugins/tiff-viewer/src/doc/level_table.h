// The level table: the images a host may fetch, each a stored IFD (of the
// main file or of its .ovr sidecar) shown whole or decimated by a power of
// two. Levels are sorted by pixel count, smallest first; a level's number in
// requests is its position. Building the table decodes no pixel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindle::tiff {

// One IFD chosen as a native image.
struct IfdImage {
  std::uint64_t ifd = 0;  // index in its file's IFD chain
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool sidecar = false;

  bool operator==(const IfdImage&) const = default;
};

struct TiffLevel {
  std::uint64_t ifd = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t factor = 1;  // 1 stored, 2, 4, 8 ... synthesized
  bool sidecar = false;

  bool operator==(const TiffLevel&) const = default;
};

// Synthesis from an image stops at the first factor whose larger reduced
// edge is this or less.
inline constexpr std::uint32_t SYNTH_STOP_EDGE = 255;
// Most pixels one level or region image may have.
inline constexpr std::uint64_t RENDER_CAP_PIXELS = 8000000;

// Stored images, then power-of-two reductions of each that are not within
// 1/8 of a level already listed; sorted by pixel count, then factor.
std::vector<TiffLevel> build_level_table(const std::vector<IfdImage>& images);

// The overview sidecar of a file: the path with ".ovr" appended, when that
// names a regular file (symbolic links followed).
std::optional<std::string> find_sidecar(const std::string& path);

// The cap refusals, or nothing when the size is within the cap.
std::optional<std::string> level_cap_error(std::uint32_t level, std::uint32_t width, std::uint32_t height);
std::optional<std::string> region_cap_error(std::uint32_t width, std::uint32_t height);

}  // namespace brindle::tiff
