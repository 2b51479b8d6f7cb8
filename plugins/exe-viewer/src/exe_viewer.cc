#include "exe_viewer.h"

#include "read_file.h"
#include "report.h"
#include "text.h"

namespace brindle::exe {

ViewerResult ExeViewer::render(RenderSource source) {
  std::vector<std::uint8_t> bytes;
  if (const std::string* path = source.path()) {
    auto read = read_whole_file(*path);
    if (!read) return plugin_error(ErrorCode::failed, "read " + utf8_lossy(*path) + ": " + read.error());
    bytes = std::move(*read);
  } else {
    bytes = source.take_bytes();
  }
  std::string report = build_report(Bytes(bytes));
  // The input is no longer needed: give its memory back before the report
  // is copied into the payload.
  std::vector<std::uint8_t>().swap(bytes);
  return Payload(report.begin(), report.end());
}

}  // namespace brindle::exe
