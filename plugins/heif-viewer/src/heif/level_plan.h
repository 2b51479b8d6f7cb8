// The level table of a HEIF image: the long sides it can be shown at,
// every one within the pixel budget, and their sizes.
//
// Levels are the image's long side and its successive halvings, smallest
// first. Sizes over PIXEL_BUDGET are left out; the smallest level is the
// first halving below 512 (or the long side itself when that is below 512).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "plugin_protocol/image_payload.h"
#include "plugin_protocol/viewer.h"

namespace brindle::heif {

inline constexpr double PIXEL_BUDGET = 8'000'000.0;
// Halving goes on while the long side is at least this.
inline constexpr std::uint32_t SMALLEST_LEVEL_LIMIT = 512;

// Long sides, ascending; never empty.
std::vector<std::uint32_t> plan_levels(std::uint32_t width, std::uint32_t height);

// The size of the level whose long side is `long_side`, aspect kept, each
// side rounded half away from zero and at least 1.
LevelSize level_size(std::uint32_t width, std::uint32_t height, std::uint32_t long_side);

// The level table: an image payload without pixels (flags no_pixels,
// channels 3, bit depth 8), one frame per level in `levels` order.
Payload level_table_payload(std::uint32_t width, std::uint32_t height, std::span<const std::uint32_t> levels);

}  // namespace brindle::heif
