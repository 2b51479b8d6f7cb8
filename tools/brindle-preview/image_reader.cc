#include "image_reader.h"

#include "plugin_protocol/image_payload.h"

namespace brindle::host {
namespace {

std::uint32_t u32(const std::uint8_t* p) {
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

bool is_image_payload(std::span<const std::uint8_t> p) {
  return p.size() >= 4 && p[0] == 0xFF && p[1] == 'I' && p[2] == 'M' && p[3] == 'G';
}

std::expected<ImageView, std::string> read_image(std::span<const std::uint8_t> p) {
  if (!is_image_payload(p) || p.size() < IMAGE_HEADER_SIZE) return std::unexpected("not an image payload");
  ImageView image;
  image.flags = p[4];
  image.width = u32(&p[5]);
  image.height = u32(&p[9]);
  image.channels = p[13];
  image.bit_depth = p[14];
  const std::uint32_t count = u32(&p[15]);
  const bool pixels = (image.flags & IMAGE_FLAG_NO_PIXELS) == 0;
  std::size_t at = IMAGE_HEADER_SIZE;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (p.size() - at < IMAGE_FRAME_HEADER_SIZE) return std::unexpected("image payload cut short");
    FrameView f{u32(&p[at]), u32(&p[at + 4]), u32(&p[at + 8]), {}};
    at += IMAGE_FRAME_HEADER_SIZE;
    if (pixels) {
      const std::size_t n = static_cast<std::size_t>(f.width) * f.height * 4;
      if (p.size() - at < n) return std::unexpected("image payload cut short");
      f.pixels = p.subspan(at, n);
      at += n;
    }
    image.frames.push_back(f);
  }
  return image;
}

}  // namespace brindle::host
