// The heif-viewer's Viewer: `render` probes a HEIF file and answers its
// level table (or the installation notice when libheif cannot decode HEIC
// here); `render_level` answers one level of the last rendered document.
// `render_region` keeps the library's default (unsupported).
//
// The viewer owns at most one HeifDocument. The document owns its source
// (the path, or its own copy of the input bytes, which libheif reads in
// place) and, after the first render_level, the decoded base from which
// every level is averaged without decoding again. A failed render leaves
// the previous document in place; a failed decode leaves no base behind.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "heif/decode.h"
#include "heif/heif_context.h"
#include "heif/probe.h"
#include "plugin_protocol/viewer.h"

namespace brindle::heif {

struct HeifDocument {
  HeifSource source;
  ImageSize size;                     // probed
  std::vector<std::uint32_t> levels;  // long sides, ascending
  std::optional<BaseImage> base;      // decoded on demand
};

class HeifViewer final : public Viewer {
 public:
  ViewerResult render(RenderSource source) override;
  ViewerResult render_level(std::uint32_t level) override;

 private:
  std::optional<HeifDocument> document_;
};

}  // namespace brindle::heif
