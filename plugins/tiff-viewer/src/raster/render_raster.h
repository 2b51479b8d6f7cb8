// Rendering of one IFD at a decimation factor, whole or restricted to a
// window of the level: the IFD is decoded chunk by chunk (only the chunks
// that meet the window, one decoded chunk held at a time) and every accepted
// full-resolution sample is box-averaged into the output pixel it falls in.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "doc/raster_meta.h"
#include "doc/tiff_decoder.h"
#include "raster/accumulator.h"

namespace brindle::tiff {

// A rectangle in pixels of the level (not of the full-resolution image).
struct Window {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// "Window { x: 120, y: 0, width: 64, height: 64 }"
std::string debug_text(const Window& window);

// Counts decoded chunks, for tests and measurements.
struct RenderStats {
  std::vector<std::uint32_t> decoded_chunks;
};

// Renders the decoder's current IFD at `factor` (0 taken as 1). A window is
// validated against the level size and clipped to it; `reuse` supplies band
// ranges to keep (band b when it has an entry b). Errors are texts: the
// decoder's, "chunk {}: {}", the conversion texts, or
// "window {} outside level {}×{}".
std::expected<RenderedRaster, std::string> render_raster(TiffDecoder& decoder, std::uint32_t factor,
                                                         const RasterMeta& meta, std::optional<Window> window,
                                                         const std::vector<BandRange>* reuse,
                                                         RenderStats* stats = nullptr);

}  // namespace brindle::tiff
