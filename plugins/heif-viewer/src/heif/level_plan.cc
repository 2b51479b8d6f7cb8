#include "heif/level_plan.h"

#include <algorithm>
#include <cmath>

namespace brindle::heif {
namespace {

// Rounds half away from zero and clamps into u32.
std::uint32_t round_to_u32(double v) {
  const double r = std::round(v);
  if (!(r > 0.0)) return 0;  // also catches NaN
  if (r >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(r);
}

}  // namespace

std::vector<std::uint32_t> plan_levels(std::uint32_t width, std::uint32_t height) {
  const std::uint32_t long_side = std::max(std::max(width, height), 1u);
  const std::uint32_t short_side = std::max(std::min(width, height), 1u);
  const double ratio = static_cast<double>(short_side) / static_cast<double>(long_side);

  std::vector<std::uint32_t> levels;
  std::uint32_t side = long_side;
  for (;;) {
    const double estimate = std::max(std::round(ratio * side), 1.0);
    if (estimate * side <= PIXEL_BUDGET) levels.push_back(side);
    if (side >= SMALLEST_LEVEL_LIMIT) {
      side /= 2;
      continue;
    }
    if (side < 2 || !levels.empty()) break;
    side /= 2;
  }
  std::reverse(levels.begin(), levels.end());
  return levels;
}

LevelSize level_size(std::uint32_t width, std::uint32_t height, std::uint32_t long_side) {
  const double scale = static_cast<double>(long_side) / static_cast<double>(std::max({width, height, 1u}));
  return LevelSize{std::max(round_to_u32(width * scale), 1u), std::max(round_to_u32(height * scale), 1u)};
}

Payload level_table_payload(std::uint32_t width, std::uint32_t height, std::span<const std::uint32_t> levels) {
  std::vector<LevelSize> sizes;
  sizes.reserve(levels.size());
  for (std::uint32_t side : levels) sizes.push_back(level_size(width, height, side));
  return encode_image(level_table_image(0, 3, 8, sizes));
}

}  // namespace brindle::heif
