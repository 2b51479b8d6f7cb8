#include "main/tiff_viewer.h"

#include "plugin_protocol/image_payload.h"
#include "raster/raster_layout.h"

namespace brindle::tiff {
namespace {

struct SourceFormat {
  std::uint8_t channels = 3;
  std::uint8_t bit_depth = 8;
};

// Describes IFD 0 of the main file; an image the raster code cannot read is
// described as 8-bit colour.
SourceFormat describe_source(const TiffDoc& doc) {
  auto decoder = open_decoder(doc, false);
  if (!decoder) return {};
  auto layout = read_raster_layout(*decoder);
  if (!layout) return {};
  return {layout->channels(), layout->bits_per_sample};
}

}  // namespace

ViewerResult TiffViewer::render(RenderSource source) {
  std::optional<DocSource> doc_source;
  std::optional<std::string> sidecar;
  if (const std::string* path = source.path()) {
    sidecar = find_sidecar(*path);
    doc_source = DocSource::file(*path);
  } else {
    doc_source = DocSource::memory(source.take_bytes());
  }
  auto doc = open_doc(std::move(*doc_source), std::move(sidecar));
  if (!doc) return plugin_error(ErrorCode::failed, doc.error());

  std::vector<LevelSize> sizes;
  sizes.reserve(doc->levels.size());
  for (const auto& level : doc->levels) sizes.push_back({level.width, level.height});
  const SourceFormat format = describe_source(*doc);

  doc_ = std::move(*doc);
  state_ = {};
  return encode_image(level_table_image(IMAGE_FLAG_TIFF_LEVELS, format.channels, format.bit_depth, sizes));
}

std::expected<RenderedRaster, std::string> TiffViewer::render_ifd(const TiffLevel& level,
                                                                  std::optional<Window> window,
                                                                  const std::vector<BandRange>* reuse) {
  auto decoder = open_decoder(*doc_, level.sidecar);
  if (!decoder) return std::unexpected(decoder.error());
  if (auto moved = decoder->go_to_ifd(level.ifd); !moved) {
    return std::unexpected("ifd " + std::to_string(level.ifd) + ": " + moved.error());
  }
  stats_ = {};
  ++decode_count_;
  return render_raster(*decoder, level.factor, doc_->meta, window, reuse, &stats_);
}

ViewerResult TiffViewer::render_level(std::uint32_t index) {
  if (!doc_) return plugin_error(ErrorCode::failed, "render_level before render");
  if (index >= doc_->levels.size()) return plugin_error(ErrorCode::not_found, "no level " + std::to_string(index));
  const TiffLevel level = doc_->levels[index];
  if (auto refused = level_cap_error(index, level.width, level.height)) {
    return plugin_error(ErrorCode::too_large, *refused);
  }
  auto raster = produce_level(level, state_, [&] { return render_ifd(level, std::nullopt, nullptr); });
  if (!raster) return plugin_error(ErrorCode::failed, raster.error());
  // The cache may hold the same payload; then the reply is a copy.
  if (raster->image.use_count() == 1) return std::move(*raster->image);
  return Payload(*raster->image);
}

ViewerResult TiffViewer::render_region(std::uint32_t index, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                                       std::uint32_t height) {
  if (!doc_) return plugin_error(ErrorCode::failed, "render_region before render");
  if (index >= doc_->levels.size()) return plugin_error(ErrorCode::not_found, "no level " + std::to_string(index));
  if (auto refused = region_cap_error(width, height)) return plugin_error(ErrorCode::too_large, *refused);
  const TiffLevel level = doc_->levels[index];
  const std::vector<BandRange>* reuse = state_.kept_ranges ? &*state_.kept_ranges : nullptr;
  auto raster = render_ifd(level, Window{x, y, width, height}, reuse);
  if (!raster) return plugin_error(ErrorCode::failed, raster.error());
  return std::move(raster->image);
}

}  // namespace brindle::tiff
