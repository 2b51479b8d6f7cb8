// Decoding a HEIF image once into its base (the largest planned level, as
// RGBA) and producing every level from that base.
//
// libheif decodes at full resolution with its default options (rotation and
// mirroring applied); the full-resolution plane is released as soon as the
// base has been averaged out of it, so only the base (at most
// PIXEL_BUDGET pixels) outlives decode_base. The caller owns the base.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "heif/heif_context.h"
#include "heif/probe.h"
#include "plugin_protocol/image_payload.h"
#include "plugin_protocol/viewer.h"

namespace brindle::heif {

// libheif decodes at full resolution before anything is averaged, so the
// decoded plane (3 or 4 bytes a pixel, plus libheif's own YCbCr planes) is
// the viewer's peak memory. Larger images are refused rather than left to
// exhaust memory; 16384 × 16384 covers every camera.
inline constexpr std::uint64_t MAX_DECODE_PIXELS = 16384ull * 16384ull;

struct BaseImage {
  std::vector<std::uint8_t> rgba;  // width × height × 4, rows from the top
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Decodes `source`, checks that libheif produced the probed size, and
// averages it down to the largest level that plan_levels allows. An image
// over MAX_DECODE_PIXELS is refused before libheif decodes anything.
std::expected<BaseImage, std::string> decode_base(const HeifSource& source, ImageSize probed);

// The RGBA bytes of the level with long side `long_side` (a copy of the
// base when the level is the base itself); fails when the level would be
// larger than the base.
std::expected<std::vector<std::uint8_t>, std::string> level_pixels(const BaseImage& base, ImageSize probed,
                                                                   std::uint32_t long_side);

// The same level wrapped as a one-frame image payload (flags 0, channels 3,
// bit depth 8), resampled straight into the payload.
std::expected<Payload, std::string> level_payload(const BaseImage& base, ImageSize probed, std::uint32_t long_side);

}  // namespace brindle::heif
