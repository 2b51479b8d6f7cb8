// The executable-info viewer: answers `render` with the text report of the
// file named by the request path, or of the bytes handed over in the input
// segment. Keeps nothing between requests; render_level and render_region
// are left to the library's unsupported defaults.
#pragma once

#include "plugin_protocol/viewer.h"

namespace brindle::exe {

inline constexpr std::string_view EXE_VIEWER_VERSION = "1.0.2";
inline constexpr std::string_view EXE_VIEWER_ID = "exeinfo";

class ExeViewer final : public Viewer {
 public:
  ViewerResult render(RenderSource source) override;

 private:
  ViewerResult render_report(RenderSource source);
};

}  // namespace brindle::exe
