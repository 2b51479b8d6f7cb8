// The tiff-viewer's answer to the three viewer operations.
//
// `render` opens a document and answers its level table (no pixels);
// the viewer keeps that document until the next successful `render`.
// A failed request never changes what the viewer keeps.
#pragma once

#include <optional>

#include "doc/tiff_doc.h"
#include "plugin_protocol/viewer.h"

namespace brindle::tiff {

inline constexpr std::string_view TIFF_PLUGIN_ID = "tiff";
inline constexpr std::string_view TIFF_PLUGIN_VERSION = "1.0.1";

class TiffViewer final : public Viewer {
 public:
  ViewerResult render(RenderSource source) override;
  ViewerResult render_level(std::uint32_t level) override;
  ViewerResult render_region(std::uint32_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                             std::uint32_t height) override;

  const std::optional<TiffDoc>& doc() const { return doc_; }

 private:
  std::optional<TiffDoc> doc_;
};

}  // namespace brindle::tiff
