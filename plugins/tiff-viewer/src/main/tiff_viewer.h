// The tiff-viewer's answer to the three viewer operations.
//
// `render` opens a document and answers its level table (no pixels);
// the viewer keeps that document until the next successful `render`,
// together with one cached level raster and the band ranges of the last
// fresh level render (both emptied by a new document). `render_level` and
// `render_region` decode from a fresh decoder per request. A failed request
// never changes what the viewer keeps.
#pragma once

#include <optional>

#include "doc/tiff_doc.h"
#include "raster/level_cache.h"
#include "raster/render_raster.h"
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
  const LevelState& level_state() const { return state_; }
  // Chunks decoded by the last render_level or render_region that decoded.
  const RenderStats& last_render_stats() const { return stats_; }
  // How many renders decoded the file (cache hits do not).
  std::uint64_t decode_count() const { return decode_count_; }

 private:
  std::expected<RenderedRaster, std::string> render_ifd(const TiffLevel& level, std::optional<Window> window,
                                                        const std::vector<BandRange>* reuse);

  std::optional<TiffDoc> doc_;
  LevelState state_;
  RenderStats stats_;
  std::uint64_t decode_count_ = 0;
};

}  // namespace brindle::tiff
