#include "plugin_protocol/viewer.h"

namespace brindle {

ViewerResult Viewer::render_level(std::uint32_t) {
  return plugin_error(ErrorCode::unsupported, "render_level not supported");
}

ViewerResult Viewer::render_region(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  return plugin_error(ErrorCode::unsupported, "render_region not supported");
}

}  // namespace brindle
