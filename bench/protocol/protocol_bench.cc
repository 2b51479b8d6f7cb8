// Protocol benchmarks, each against its floor in the same run:
//   1. start-up: exec of a plug-in to hello received, median of 200 starts,
//      against a minimal C client that connects and sends 8 bytes;
//   2. 10,000 render_level round trips answered with a 16-byte payload,
//      against a bare 16-byte echo over the same kind of socket;
//   3. a 32,000,000-byte payload written into a segment, against memcpy.
// Usage: protocol_bench <plug-in> <floor_client> <echo_peer>
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "child_process.h"
#include "host_segment.h"
#include "host_socket.h"
#include "plugin_protocol/framing.h"
#include "plugin_protocol/messages.h"
#include "plugin_protocol/shm.h"

namespace {

using namespace brindle;
using namespace brindle::host;

double now() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Seconds from spawn to the first 8 bytes received from `exe`.
double one_start(const std::string& exe) {
  const auto name = unique_name("bench");
  auto listener = listen_abstract(name);
  const double t0 = now();
  auto child = ChildProcess::spawn({exe, name});
  auto conn = accept_while(listener->get(), 10'000, [&] { return child->running(); });
  std::uint8_t header[8];
  std::size_t got = 0;
  while (got < 8) {
    const ssize_t n = ::recv(conn->get(), header + got, 8 - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  const double t1 = now();
  conn->reset();
  child->wait(5000);
  return got == 8 ? t1 - t0 : -1;
}

double median_start(const std::string& exe, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(one_start(exe));
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

double render_level_rate(const std::string& plugin, int n) {
  const auto name = unique_name("bench");
  auto listener = listen_abstract(name);
  auto child = ChildProcess::spawn({plugin, name});
  auto conn = accept_while(listener->get(), 10'000, [&] { return child->running(); });
  (void)read_message(conn->get());  // hello
  auto segment = HostSegment::create(4096);
  const double t0 = now();
  for (int i = 0; i < n; ++i) {
    const Request req{static_cast<std::uint64_t>(i),
                      RequestBody(std::in_place_index<REQUEST_RENDER_LEVEL>,
                                  RenderLevelRequest{static_cast<std::uint32_t>(i), 4096, segment->name()})};
    (void)write_message(conn->get(), encode_message(req));
    auto reply = read_message(conn->get());
    auto decoded = decode_message(**reply);
    const auto& resp = std::get<Response>(*decoded);
    if (resp.body.index() != RESPONSE_WRITTEN || std::get<RESPONSE_WRITTEN>(resp.body).value != 16) {
      std::fprintf(stderr, "unexpected reply\n");
      return 0;
    }
  }
  const double rate = n / (now() - t0);
  conn->reset();
  child->wait(5000);
  return rate;
}

double echo_rate(const std::string& peer, int n) {
  const auto name = unique_name("bench");
  auto listener = listen_abstract(name);
  auto child = ChildProcess::spawn({peer, name});
  auto conn = accept_while(listener->get(), 10'000, [&] { return child->running(); });
  std::uint8_t buf[16] = {};
  const double t0 = now();
  for (int i = 0; i < n; ++i) {
    (void)write_message(conn->get(), std::span<const std::uint8_t>(buf, 16));
    std::size_t got = 0;
    while (got < 16) got += static_cast<std::size_t>(::recv(conn->get(), buf + got, 16 - got, 0));
  }
  const double rate = n / (now() - t0);
  conn->reset();
  child->wait(5000);
  return rate;
}

// Best of `runs`: one fresh segment per run, as a host that creates one per
// request would hand over.
void segment_write(std::size_t size, int runs) {
  std::vector<std::uint8_t> payload(size, 0x5A);
  double best_shm = 1e9, best_copy = 1e9;
  for (int r = 0; r < runs; ++r) {
    auto segment = HostSegment::create(size);
    const double t0 = now();
    auto written = write_output(segment->name(), payload);
    best_shm = std::min(best_shm, now() - t0);
    if (!written || *written != size) std::fprintf(stderr, "write_output failed\n");

    std::vector<std::uint8_t>* target = new std::vector<std::uint8_t>();
    target->reserve(size);  // fresh, untouched pages, like a new segment
    const double t1 = now();
    std::memcpy(target->data(), payload.data(), size);
    best_copy = std::min(best_copy, now() - t1);
    delete target;
  }
  std::printf("3. 32,000,000-byte payload: write_output %.2f ms (%.2f GB/s), memcpy to fresh memory %.2f ms "
              "(%.2f GB/s); throughput ratio %.2f (goal >= 0.80)\n",
              best_shm * 1e3, size / best_shm / 1e9, best_copy * 1e3, size / best_copy / 1e9, best_copy / best_shm);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: protocol_bench <plug-in> <floor_client> <echo_peer>\n");
    return 2;
  }
  const double plugin = median_start(argv[1], 200), floor = median_start(argv[2], 200);
  std::printf("1. start-up, median of 200: plug-in %.3f ms, C floor %.3f ms; ratio %.2f (goal <= 1.5)\n",
              plugin * 1e3, floor * 1e3, plugin / floor);
  const double levels = render_level_rate(argv[1], 10'000), echo = echo_rate(argv[3], 10'000);
  std::printf("2. 10,000 round trips: render_level %.0f/s, 16-byte echo %.0f/s; ratio %.2f (goal >= 0.5)\n", levels,
              echo, levels / echo);
  segment_write(32'000'000, 10);
  return 0;
}
