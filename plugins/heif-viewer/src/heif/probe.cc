#include "heif/probe.h"

namespace brindle::heif {

std::expected<ImageSize, std::string> probe_image(const HeifSource& source) {
  auto context = open_context(source);
  if (!context) return std::unexpected(std::move(context.error()));
  auto handle = primary_image_handle(*context);
  if (!handle) return std::unexpected(std::move(handle.error()));
  const int width = context->lib().image_handle_get_width(handle->get());
  const int height = context->lib().image_handle_get_height(handle->get());
  if (width <= 0 || height <= 0) return std::unexpected(std::string("container reports an empty image"));
  return ImageSize{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

}  // namespace brindle::heif
