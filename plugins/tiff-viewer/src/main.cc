// Entry of the tiff-viewer plug-in: the protocol library runs everything
// about the host; the viewer owns everything about TIFF files.
#include "main/tiff_viewer.h"
#include "manifest_template.h"
#include "plugin_protocol/plugin_main.h"

int main(int argc, char** argv) {
  return brindle::plugin_main(
      argc, argv,
      {MANIFEST_TEMPLATE, brindle::tiff::TIFF_PLUGIN_VERSION, brindle::tiff::TIFF_PLUGIN_ID},
      [] { return std::make_unique<brindle::tiff::TiffViewer>(); });
}
