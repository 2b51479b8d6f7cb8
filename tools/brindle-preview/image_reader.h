// Reads an image payload back: the header fields and each frame's size and
// pixel bytes (views into the payload, which must outlive the result).
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace brindle::host {

struct FrameView {
  std::uint32_t tag = 0, width = 0, height = 0;
  std::span<const std::uint8_t> pixels;  // empty with no_pixels
};

struct ImageView {
  std::uint8_t flags = 0;
  std::uint32_t width = 0, height = 0;
  std::uint8_t channels = 0, bit_depth = 0;
  std::vector<FrameView> frames;
};

bool is_image_payload(std::span<const std::uint8_t> payload);
std::expected<ImageView, std::string> read_image(std::span<const std::uint8_t> payload);

}  // namespace brindle::host
