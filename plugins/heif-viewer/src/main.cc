// Entry of the heif-viewer plug-in: the HEIC / HEIF viewer served through
// the protocol library.
#include "main/heif_viewer.h"
#include "manifest_template.h"
#include "plugin_protocol/plugin_main.h"

int main(int argc, char** argv) {
  return brindle::plugin_main(argc, argv, {MANIFEST_TEMPLATE, "1.0.0", "heic"},
                              [] { return std::make_unique<brindle::heif::HeifViewer>(); });
}
