#include "png_writer.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace brindle::host {

std::expected<void, std::string> write_png(const std::string& path, std::uint32_t width, std::uint32_t height,
                                           std::span<const std::uint8_t> rgba) {
  if (rgba.size() < static_cast<std::size_t>(width) * height * 4) return std::unexpected("too few pixel bytes");
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), static_cast<png_int_32>(width) * 4, nullptr)) {
    std::string error = image.message;
    png_image_free(&image);
    return std::unexpected("writing " + path + ": " + error);
  }
  return {};
}

}  // namespace brindle::host
