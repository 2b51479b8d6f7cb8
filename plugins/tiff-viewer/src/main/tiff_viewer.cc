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
  return encode_image(level_table_image(IMAGE_FLAG_TIFF_LEVELS, format.channels, format.bit_depth, sizes));
}

ViewerResult TiffViewer::render_level(std::uint32_t) {
  if (!doc_) return plugin_error(ErrorCode::failed, "render_level before render");
  return plugin_error(ErrorCode::unsupported, "render_level not supported");
}

ViewerResult TiffViewer::render_region(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  if (!doc_) return plugin_error(ErrorCode::failed, "render_region before render");
  return plugin_error(ErrorCode::unsupported, "render_region not supported");
}

}  // namespace brindle::tiff
