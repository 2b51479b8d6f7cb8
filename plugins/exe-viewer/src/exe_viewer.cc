#include "exe_viewer.h"

#include <new>

#include "read_file.h"
#include "report.h"
#include "text.h"

namespace brindle::exe {

ViewerResult ExeViewer::render(RenderSource source) {
  // The report of a large file takes hundreds of megabytes at most; should
  // the system still refuse them, the request fails instead of the process.
  try {
    return render_report(std::move(source));
  } catch (const std::bad_alloc&) {
    return plugin_error(ErrorCode::failed, "out of memory while building the report");
  }
}

ViewerResult ExeViewer::render_report(RenderSource source) {
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
