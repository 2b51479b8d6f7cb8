#include "doc/level_table.h"

#include <sys/stat.h>

#include <algorithm>

namespace brindle::tiff {
namespace {

std::uint64_t pixels(std::uint32_t w, std::uint32_t h) { return static_cast<std::uint64_t>(w) * h; }

std::uint32_t reduce(std::uint32_t edge, std::uint64_t factor) {
  const std::uint64_t r = (static_cast<std::uint64_t>(edge) + factor - 1) / factor;
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(r, 1));
}

std::uint32_t distance(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; }

}  // namespace

std::vector<TiffLevel> build_level_table(const std::vector<IfdImage>& images) {
  std::vector<IfdImage> sorted = images;
  std::stable_sort(sorted.begin(), sorted.end(), [](const IfdImage& a, const IfdImage& b) {
    return pixels(a.width, a.height) < pixels(b.width, b.height);
  });
  std::vector<TiffLevel> table;
  for (const auto& image : sorted) table.push_back({image.ifd, image.width, image.height, 1, image.sidecar});

  for (const auto& image : sorted) {
    // Factors stay below 2^32: an edge of at most 2^32 - 1 reaches 1 by then.
    for (std::uint64_t f = 2; f <= (1ull << 31); f *= 2) {
      const std::uint32_t x = reduce(image.width, f);
      const std::uint32_t y = reduce(image.height, f);
      if (std::max(x, y) <= SYNTH_STOP_EDGE) break;
      const bool near_duplicate = std::any_of(table.begin(), table.end(), [&](const TiffLevel& l) {
        return distance(l.width, x) <= x / 8 && distance(l.height, y) <= y / 8;
      });
      if (!near_duplicate) table.push_back({image.ifd, x, y, static_cast<std::uint32_t>(f), image.sidecar});
    }
  }
  std::stable_sort(table.begin(), table.end(), [](const TiffLevel& a, const TiffLevel& b) {
    const auto pa = pixels(a.width, a.height);
    const auto pb = pixels(b.width, b.height);
    return pa != pb ? pa < pb : a.factor < b.factor;
  });
  return table;
}

std::optional<std::string> find_sidecar(const std::string& path) {
  std::string candidate = path + ".ovr";
  struct stat st {};
  if (::stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return candidate;
}

std::optional<std::string> level_cap_error(std::uint32_t level, std::uint32_t width, std::uint32_t height) {
  if (pixels(width, height) <= RENDER_CAP_PIXELS) return std::nullopt;
  return "level " + std::to_string(level) + " is " + std::to_string(width) + "\u00d7" + std::to_string(height) +
         " \u2014 fetch it with render_region";
}

std::optional<std::string> region_cap_error(std::uint32_t width, std::uint32_t height) {
  if (pixels(width, height) <= RENDER_CAP_PIXELS) return std::nullopt;
  return "region " + std::to_string(width) + "\u00d7" + std::to_string(height) + " exceeds the render cap";
}

}  // namespace brindle::tiff
