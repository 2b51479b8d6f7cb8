// Entry of the heif-viewer plug-in. Until its viewer lands, render answers
// unsupported.
#include "manifest_template.h"
#include "plugin_protocol/plugin_main.h"

namespace {

class HeifViewer final : public brindle::Viewer {
 public:
  brindle::ViewerResult render(brindle::RenderSource) override {
    return brindle::plugin_error(brindle::ErrorCode::unsupported, "render is not available yet");
  }
};

}  // namespace

int main(int argc, char** argv) {
  return brindle::plugin_main(argc, argv, {MANIFEST_TEMPLATE, "1.0.0", "heic"},
                              [] { return std::make_unique<HeifViewer>(); });
}
