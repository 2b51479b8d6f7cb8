#include "exe_viewer.h"

#include "read_file.h"
#include "report.h"
#include "text.h"

namespace brindle::exe {

ViewerResult ExeViewer::render(RenderSource source) {
  std::string report;
  if (const std::string* path = source.path()) {
    auto read = read_whole_file(*path);
    if (!read) return plugin_error(ErrorCode::failed, "read " + utf8_lossy(*path) + ": " + read.error());
    report = build_report(read->view());
  } else {
    std::vector<std::uint8_t> bytes = source.take_bytes();
    report = build_report(Bytes(bytes));
  }
  // The input is released by now, before the report is copied out.
  return Payload(report.begin(), report.end());
}

}  // namespace brindle::exe
