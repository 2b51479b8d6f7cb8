// A viewer plug-in for exercising the protocol library end to end. Its
// answers are easy to check from the host side:
//   render(path "size:N")  N bytes, byte i = i % 251
//   render(path "sleep")   sleeps a minute (for the parent-death test)
//   render(path "nap")     sleeps 300 ms, then answers
//   render(path "fail")    error too_large "refused on purpose"
//   render(path "oom")     throws std::bad_alloc
//   render(other path)     text "path:<path>;calls:<n>"
//   render(bytes)          text "bytes:<size>:<content>;calls:<n>"
//   render_level(L)        16 bytes: L as u32 little-endian, four times
// render_region is left to the library's default. Started with a second
// argument "minimal", render_level is left to the default too.
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "plugin_protocol/plugin_main.h"

namespace {

constexpr std::string_view TEMPLATE = "id = \"test\"\nversion = \"@VANTO_PKG_VERSION@\"\nexe = \"test-viewer\"\n";

brindle::Payload text(const std::string& s) { return brindle::Payload(s.begin(), s.end()); }

class TestViewer : public brindle::Viewer {
 public:
  brindle::ViewerResult render(brindle::RenderSource source) override {
    ++calls_;
    const std::string suffix = ";calls:" + std::to_string(calls_);
    if (const auto* bytes = source.bytes())
      return text("bytes:" + std::to_string(bytes->size()) + ":" + std::string(bytes->begin(), bytes->end()) + suffix);
    const std::string& path = *source.path();
    if (path.rfind("size:", 0) == 0) {
      brindle::Payload p(std::stoull(path.substr(5)));
      for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i % 251);
      return p;
    }
    if (path == "sleep") {
      ::sleep(60);
      return text("woke");
    }
    if (path == "nap") {
      ::usleep(300'000);
      return text("rested");
    }
    if (path == "oom") throw std::bad_alloc();
    if (path == "fail") return brindle::plugin_error(brindle::ErrorCode::too_large, "refused on purpose");
    return text("path:" + path + suffix);
  }

 private:
  int calls_ = 0;
};

class LevelViewer final : public TestViewer {
 public:
  brindle::ViewerResult render_level(std::uint32_t level) override {
    brindle::Payload p(16);
    for (int i = 0; i < 4; ++i) std::memcpy(p.data() + 4 * i, &level, 4);
    return p;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const bool minimal = argc > 2 && std::string_view(argv[2]) == "minimal";
  return brindle::plugin_main(argc, argv, {TEMPLATE, "0.0.1", "test"}, [minimal]() -> std::unique_ptr<brindle::Viewer> {
    if (minimal) return std::make_unique<TestViewer>();
    return std::make_unique<LevelViewer>();
  });
}
