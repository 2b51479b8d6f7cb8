// Runs one viewer the way the request loop would: `render` of argv[1], then
// `render_level` 0. Writes the render payload to standard output as it is
// (or "error <code> <message>"), a record separator (0x1E), then the
// render_level outcome the same way. Tests start it with
// LD_LIBRARY_PATH pointing at a stand-in libheif (the notice and the
// scripted-libheif tests).
#include <cstdio>
#include <string>

#include "main/heif_viewer.h"

namespace {

void print(const brindle::ViewerResult& result) {
  if (result) {
    std::fwrite(result->data(), 1, result->size(), stdout);
  } else {
    std::printf("error %d %s", static_cast<int>(result.error().code), result.error().message.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  brindle::heif::HeifViewer viewer;
  print(viewer.render(brindle::RenderSource::from_path(argv[1])));
  std::fputc(0x1E, stdout);
  print(viewer.render_level(0));
  return 0;
}
