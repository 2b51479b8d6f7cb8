#include "plugin_protocol/image_payload.h"

#include <algorithm>
#include <cstring>

namespace brindle {
namespace {

void put_u32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint8_t* put_header(std::uint8_t* out, std::uint8_t flags, std::uint32_t width, std::uint32_t height,
                         std::uint8_t channels, std::uint8_t bit_depth, std::uint32_t frame_count) {
  out[0] = 0xFF;
  out[1] = 'I';
  out[2] = 'M';
  out[3] = 'G';
  out[4] = flags;
  put_u32(out + 5, width);
  put_u32(out + 9, height);
  out[13] = channels;
  out[14] = bit_depth;
  put_u32(out + 15, frame_count);
  return out + IMAGE_HEADER_SIZE;
}

std::uint8_t* put_frame_header(std::uint8_t* out, std::uint32_t width, std::uint32_t height) {
  put_u32(out, 0);
  put_u32(out + 4, width);
  put_u32(out + 8, height);
  return out + IMAGE_FRAME_HEADER_SIZE;
}

std::size_t pixel_bytes(std::uint32_t width, std::uint32_t height) {
  return static_cast<std::size_t>(width) * height * 4;
}

}  // namespace

Payload encode_image(const Image& image) {
  const bool with_pixels = (image.flags & IMAGE_FLAG_NO_PIXELS) == 0;
  std::size_t total = IMAGE_HEADER_SIZE + IMAGE_FRAME_HEADER_SIZE * image.frames.size();
  if (with_pixels) {
    for (const auto& f : image.frames) total += pixel_bytes(f.width, f.height);
  }
  Payload out(total);
  std::uint8_t* p = put_header(out.data(), image.flags, image.width, image.height, image.channels, image.bit_depth,
                               static_cast<std::uint32_t>(image.frames.size()));
  for (const auto& f : image.frames) {
    p = put_frame_header(p, f.width, f.height);
    if (!with_pixels) continue;
    const std::size_t n = pixel_bytes(f.width, f.height);
    const std::size_t have = std::min(n, f.pixels.size());
    if (have) std::memcpy(p, f.pixels.data(), have);  // the rest stays zero
    p += n;
  }
  return out;
}

Image single_frame_image(std::uint8_t channels, std::uint8_t bit_depth, std::uint32_t width, std::uint32_t height,
                         std::vector<std::uint8_t> pixels) {
  Image image{0, width, height, channels, bit_depth, {}};
  image.frames.push_back(ImageFrame{width, height, std::move(pixels)});
  return image;
}

Image level_table_image(std::uint8_t extra_flags, std::uint8_t channels, std::uint8_t bit_depth,
                        std::span<const LevelSize> levels) {
  Image image{static_cast<std::uint8_t>(IMAGE_FLAG_NO_PIXELS | extra_flags), 0, 0, channels, bit_depth, {}};
  for (const auto& l : levels) {
    image.width = std::max(image.width, l.width);
    image.height = std::max(image.height, l.height);
    image.frames.push_back(ImageFrame{l.width, l.height, {}});
  }
  return image;
}

Payload encode_single_frame(std::uint8_t channels, std::uint8_t bit_depth, std::uint32_t width, std::uint32_t height,
                            std::span<const std::uint8_t> pixels) {
  const std::size_t n = pixel_bytes(width, height);
  Payload out(IMAGE_HEADER_SIZE + IMAGE_FRAME_HEADER_SIZE + n);
  std::uint8_t* p = put_header(out.data(), 0, width, height, channels, bit_depth, 1);
  p = put_frame_header(p, width, height);
  const std::size_t have = std::min(n, pixels.size());
  if (have) std::memcpy(p, pixels.data(), have);
  return out;
}

}  // namespace brindle
