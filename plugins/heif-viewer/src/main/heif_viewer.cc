#include "main/heif_viewer.h"

#include "heif/heif_library.h"
#include "heif/level_plan.h"
#include "main/install_notice.h"

namespace brindle::heif {

ViewerResult HeifViewer::render(RenderSource request) {
  HeifSource source;
  if (const std::string* path = request.path(); path != nullptr && !path->empty()) {
    source = *path;
  } else {
    source = request.take_bytes();
  }

  if (auto reason = heif_unavailable_reason()) {
    const std::string notice = install_notice(*reason);
    return Payload(notice.begin(), notice.end());
  }

  auto size = probe_image(source);
  if (!size) return plugin_error(ErrorCode::failed, std::move(size.error()));

  std::vector<std::uint32_t> levels = plan_levels(size->width, size->height);
  Payload table = level_table_payload(size->width, size->height, levels);
  document_.reset();  // the old document's base and bytes go before the new one settles in
  document_.emplace(HeifDocument{std::move(source), *size, std::move(levels), std::nullopt});
  return table;
}

ViewerResult HeifViewer::render_level(std::uint32_t level) {
  if (!document_) return plugin_error(ErrorCode::failed, "render_level before render");
  HeifDocument& doc = *document_;
  if (level >= doc.levels.size()) return plugin_error(ErrorCode::not_found, "no level " + std::to_string(level));

  if (!doc.base) {
    auto base = decode_base(doc.source, doc.size);
    if (!base) return plugin_error(ErrorCode::failed, std::move(base.error()));
    doc.base = std::move(*base);
  }
  auto payload = level_payload(*doc.base, doc.size, doc.levels[level]);
  if (!payload) return plugin_error(ErrorCode::failed, std::move(payload.error()));
  return std::move(*payload);
}

}  // namespace brindle::heif
