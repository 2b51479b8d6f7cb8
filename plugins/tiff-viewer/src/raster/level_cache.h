// Level production for render_level: the one level raster kept between
// requests (LevelCache), the alpha-weighted box reduction that derives
// coarser levels of the same IFD from it, and the band ranges kept from the
// last fresh full-level render for later regions.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "doc/level_table.h"
#include "raster/accumulator.h"

namespace brindle::tiff {

// A rendered level as its one-frame image payload. The payload is shared
// between the cache and the reply; a reply whose payload nobody else holds
// takes it without a copy.
struct LevelRaster {
  std::shared_ptr<Payload> image;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t channels = 0;
  std::uint8_t bit_depth = 0;

  std::span<const std::uint8_t> pixels() const {
    return std::span<const std::uint8_t>(*image).subspan(FRAME_PIXELS_OFFSET);
  }
};

struct LevelCache {
  LevelRaster raster;
  bool sidecar = false;
  std::uint64_t ifd = 0;
  std::uint32_t factor = 1;
};

// What the viewer keeps for level production; both empty for a new document.
struct LevelState {
  std::optional<LevelCache> cache;
  std::optional<std::vector<BandRange>> kept_ranges;
};

struct RgbaImage {
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Box reduction by `ratio` (at least 1): colours weighted by alpha, alpha
// the block's mean.
RgbaImage downsample_rgba(std::span<const std::uint8_t> pixels, std::uint32_t width, std::uint32_t height,
                          std::uint32_t ratio);

using FreshRender = std::function<std::expected<RenderedRaster, std::string>()>;

// Serves `level` from the cache when the cached raster is of the same image
// at a factor dividing the level's, else through `fresh` (a full-level
// render). Only a successful fresh render changes `state`: it replaces the
// kept ranges, and the cache unless the cache holds a finer or equal raster
// of the same image. The render cap is the caller's to check first.
std::expected<LevelRaster, std::string> produce_level(const TiffLevel& level, LevelState& state,
                                                      const FreshRender& fresh);

}  // namespace brindle::tiff
