// The image payload: the little-endian binary format that carries rendered
// RGBA images and level tables to the host.
//
//   0  magic FF 49 4D 47      13 channels (u8)
//   4  flags (u8)             14 bit_depth (u8)
//   5  width (u32)            15 frame_count (u32)
//   9  height (u32)           19 frames: frame_tag (u32, 0), width, height,
//                                then width*height*4 RGBA bytes unless no_pixels
//
// `channels` and `bit_depth` describe the decoded source, not the pixels,
// which are always 8-bit straight-alpha RGBA with rows from the top.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "plugin_protocol/viewer.h"

namespace brindle {

inline constexpr std::uint8_t IMAGE_FLAG_NO_PIXELS = 4;
inline constexpr std::uint8_t IMAGE_FLAG_TIFF_LEVELS = 8;
inline constexpr std::size_t IMAGE_HEADER_SIZE = 19;
inline constexpr std::size_t IMAGE_FRAME_HEADER_SIZE = 12;

struct ImageFrame {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // width*height*4 bytes, or empty with no_pixels
};

struct Image {
  std::uint8_t flags = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t channels = 0;
  std::uint8_t bit_depth = 0;
  std::vector<ImageFrame> frames;
};

struct LevelSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Serialises `image`. Frames carry their pixels unless `flags` has no_pixels;
// a frame whose pixel vector is shorter than width*height*4 is zero-filled.
Payload encode_image(const Image& image);

// A rendered image: flags 0, one frame with tag 0, header size = frame size.
Image single_frame_image(std::uint8_t channels, std::uint8_t bit_depth, std::uint32_t width, std::uint32_t height,
                         std::vector<std::uint8_t> pixels);

// A level table: no_pixels plus `extra_flags`, one frame per level in the
// given order; header width and height are the largest frame width and the
// largest frame height, each taken separately.
Image level_table_image(std::uint8_t extra_flags, std::uint8_t channels, std::uint8_t bit_depth,
                        std::span<const LevelSize> levels);

// Encodes a single RGBA frame straight into a payload without an
// intermediate Image (one copy less for large renders).
Payload encode_single_frame(std::uint8_t channels, std::uint8_t bit_depth, std::uint32_t width, std::uint32_t height,
                            std::span<const std::uint8_t> pixels);

}  // namespace brindle
