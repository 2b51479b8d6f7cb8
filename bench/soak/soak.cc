// Soak: one plug-in process serves N mixed requests (good files by path and
// by bytes, failing and missing files, levels that exist and one that does
// not, cap-busting and small windows, missing input and output segments,
// output segments smaller than the payload). Every reply must match the
// reply the same request got the first time, and that first reply must be
// of the expected kind. RSS is read after the first 100 requests (rounded up
// to the same place in the cycle of requests as the last one, since what
// the allocator keeps depends on the request just served) and at the end;
// the end may be at most 10% above.
//   soak tiff|heif|exe PLUGIN GOOD_FILE [REQUESTS]
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "host_session.h"
#include "image_reader.h"

namespace {

using namespace brindle;
using namespace brindle::host;

long rss_kib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// What a reply is, reduced to what must repeat: ok with its bytes (FNV-1a),
// or an error with its code and message.
std::string summary(const std::expected<Reply, std::string>& r) {
  if (!r) return "broken: " + r.error();
  if (!r->ok()) return "error " + error_code_name(r->error_code) + ": " + r->error_message;
  std::uint64_t h = 1469598103934665603ull;
  for (auto b : *r->payload) h = (h ^ b) * 1099511628211ull;
  return "ok " + std::to_string(r->written) + " " + std::to_string(h);
}

struct Step {
  const char* name;
  std::function<std::expected<Reply, std::string>(HostSession&)> run;
  const char* expect;  // prefix the first reply must have
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: soak tiff|heif|exe PLUGIN GOOD_FILE [REQUESTS]\n");
    return 2;
  }
  const std::string kind = argv[1], plugin = argv[2], good = argv[3];
  const int total = argc > 4 ? std::stoi(argv[4]) : 10'000;
  const bool image = kind != "exe";
  const bool regions = kind == "tiff";

  std::ifstream in(good, std::ios::binary);
  const std::vector<std::uint8_t> good_bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string garbage_path = "/tmp/soak-garbage-" + std::to_string(::getpid()) + "." + kind;
  std::ofstream(garbage_path) << "this is not an image, nor an executable\n";

  auto session = HostSession::start(plugin);
  if (!session) {
    std::fprintf(stderr, "cannot start %s: %s\n", plugin.c_str(), session.error().c_str());
    return 3;
  }
  // The level table of the good file tells which levels exist.
  auto table_reply = session->render_path(good, 64 << 20);
  std::uint32_t levels = 0, last_w = 0, last_h = 0;
  if (image && table_reply && table_reply->ok()) {
    auto table = read_image(*table_reply->payload);
    levels = static_cast<std::uint32_t>(table->frames.size());
    last_w = table->frames.back().width;
    last_h = table->frames.back().height;
  }
  const std::uint64_t level0 = 64 << 20;

  const std::vector<Step> steps{
      {"render by path", [&](HostSession& s) { return s.render_path(good, 64 << 20); }, "ok"},
      {"render by bytes", [&](HostSession& s) { return s.render_bytes(good_bytes, 64 << 20); }, "ok"},
      {"render a failing file", [&](HostSession& s) { return s.render_path(garbage_path, 1 << 20); },
       image ? "error failed" : "ok"},
      {"render a missing file", [&](HostSession& s) { return s.render_path(garbage_path + ".missing", 1 << 20); },
       image ? "error failed" : "error failed"},
      {"render again", [&](HostSession& s) { return s.render_path(good, 64 << 20); }, "ok"},
      {"level 0", [&](HostSession& s) { return s.render_level(0, level0); }, image ? "ok" : "error unsupported"},
      {"largest level", [&](HostSession& s) { return s.render_level(levels ? levels - 1 : 0, 64 << 20); },
       image ? "ok" : "error unsupported"},
      {"missing level", [&](HostSession& s) { return s.render_level(levels, 1 << 20); },
       image ? "error not_found" : "error unsupported"},
      {"cap-busting window", [&](HostSession& s) { return s.render_region(levels - 1, 0, 0, 4000, 2001, 4096); },
       regions ? "error too_large" : "error unsupported"},
      {"small window",
       [&](HostSession& s) { return s.render_region(levels - 1, last_w / 3, last_h / 3, 64, 64, 1 << 20); },
       regions ? "ok" : "error unsupported"},
      {"missing input segment",
       [&](HostSession& s) {
         return s.request(RequestBody(std::in_place_index<REQUEST_RENDER>,
                                      RenderRequest{"/brindle-soak-missing", 100, "", 0, ""}),
                          4096);
       },
       "error failed: open input segment: shared memory: MapOpenFailed(2)"},
      {"output smaller than the payload", [&](HostSession& s) { return s.render_level(0, 100); },
       image ? "ok 100" : "error unsupported"},
      {"missing output segment",
       [&](HostSession& s) -> std::expected<Reply, std::string> {
         auto r = s.exchange(RequestBody(std::in_place_index<REQUEST_RENDER_LEVEL>,
                                         RenderLevelRequest{0, 0, "/brindle-soak-missing-output"}));
         if (!r) return std::unexpected(r.error());
         Reply reply;
         if (auto* e = std::get_if<RESPONSE_ERROR>(&r->body)) {
           reply.error_code = e->code;
           reply.error_message = e->message;
         } else {
           reply.payload.emplace();
         }
         return reply;
       },
       image ? "error failed: open output segment: shared memory: MapOpenFailed(2)" : "error unsupported"},
  };

  std::vector<std::string> first(steps.size());
  long rss_100 = 0;
  const int early = total > 100 ? 99 + (total - 100) % static_cast<int>(steps.size()) : total - 1;
  int failures = 0;
  for (int i = 0; i < total; ++i) {
    const auto& step = steps[i % steps.size()];
    const std::string got = summary(step.run(*session));
    std::string& want = first[i % steps.size()];
    if (want.empty()) {
      want = got;
      if (got.rfind(step.expect, 0) != 0) {
        std::fprintf(stderr, "%s: got \"%s\", expected \"%s...\"\n", step.name, got.c_str(), step.expect);
        ++failures;
      }
    } else if (got != want) {
      if (++failures < 10) std::fprintf(stderr, "request %d (%s): \"%s\" after \"%s\"\n", i, step.name, got.c_str(),
                                        want.c_str());
    }
    if (got.rfind("broken", 0) == 0) break;
    if (i == early) rss_100 = rss_kib(session->pid());
  }
  const long rss_end = rss_kib(session->pid());
  auto exit = session->finish();
  std::remove(garbage_path.c_str());
  const double growth = rss_100 > 0 ? 100.0 * (rss_end - rss_100) / rss_100 : 0;
  std::printf("%s: %d requests, %d wrong replies; RSS after %d requests %ld KiB, at the end %ld KiB (%+.1f%%, "
              "limit +10%%); exit status %d\n",
              kind.c_str(), total, failures, early + 1, rss_100, rss_end, growth, exit.status);
  return failures == 0 && growth <= 10.0 && exit.exited && exit.status == 0 ? 0 : 1;
}
