// Entry of the exe-viewer plug-in.
#include "exe_viewer.h"
#include "manifest_template.h"
#include "plugin_protocol/plugin_main.h"

int main(int argc, char** argv) {
  return brindle::plugin_main(argc, argv,
                              {MANIFEST_TEMPLATE, brindle::exe::EXE_VIEWER_VERSION, brindle::exe::EXE_VIEWER_ID},
                              [] { return std::make_unique<brindle::exe::ExeViewer>(); });
}
