// Shared helpers of the raster tests: render a file written by a test.
#pragma once

#include <array>
#include <filesystem>

#include "doc/tiff_doc.h"
#include "raster/render_raster.h"

namespace brindle::tiff::testing {

inline std::expected<RenderedRaster, std::string> render_file(const std::filesystem::path& path,
                                                              std::uint32_t factor = 1,
                                                              std::optional<Window> window = std::nullopt,
                                                              RenderStats* stats = nullptr,
                                                              const std::vector<BandRange>* reuse = nullptr) {
  auto doc = open_doc(DocSource::file(path), std::nullopt);
  if (!doc) return std::unexpected(doc.error());
  auto decoder = open_decoder(*doc, false);
  if (!decoder) return std::unexpected(decoder.error());
  return render_raster(*decoder, factor, doc->meta, window, reuse, stats);
}

using Rgba = std::array<std::uint8_t, 4>;

inline std::vector<Rgba> pixels_of(const RenderedRaster& r) {
  const auto px = r.pixels();
  std::vector<Rgba> out(px.size() / 4);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = {px[4 * i], px[4 * i + 1], px[4 * i + 2], px[4 * i + 3]};
  }
  return out;
}

}  // namespace brindle::tiff::testing
