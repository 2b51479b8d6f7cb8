// Protocol benchmarks, each against its floor in the same run:
//   1. start-up: exec of a plug-in to hello received, median of 200 starts,
//      against a minimal C client that connects and sends 8 bytes;
//   2. 10,000 render_level round trips answered with a 16-byte payload,
//      against a bare 16-byte echo over the same kind of socket;
//   3. a 32,000,000-byte payload written into a segment, against memcpy.
// Usage: protocol_bench <plug-in> <bench_peer>
#include <fcntl.h>
#include <sys/socket.h>
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

// A child started as argv_prefix + [socket name], and its connection.
struct Peer {
  ChildProcess child;
  Fd conn;
};

Peer start_peer(std::vector<std::string> argv, double* spawned_at = nullptr) {
  const auto name = unique_name("bench");
  auto listener = listen_abstract(name);
  argv.push_back(name);
  if (spawned_at) *spawned_at = now();
  auto child = ChildProcess::spawn(argv);
  auto conn = accept_while(listener->get(), 10'000, [&] { return child->running(); });
  return Peer{std::move(*child), std::move(*conn)};
}

// Seconds from spawn to the first 8 bytes received.
double one_start(const std::vector<std::string>& argv) {
  double t0 = 0;
  auto [child, conn] = start_peer(argv, &t0);
  std::uint8_t header[8];
  std::size_t got = 0;
  while (got < 8) {
    const ssize_t n = ::recv(conn.get(), header + got, 8 - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  const double t1 = now();
  conn.reset();
  child.wait(5000);
  return got == 8 ? t1 - t0 : -1;
}

double median_start(const std::vector<std::string>& argv, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(one_start(argv));
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

double render_level_rate(const std::string& plugin, int n) {
  auto [child, conn] = start_peer({plugin});
  (void)read_message(conn.get());  // hello
  auto segment = HostSegment::create(4096);
  const double t0 = now();
  for (int i = 0; i < n; ++i) {
    const Request req{static_cast<std::uint64_t>(i),
                      RequestBody(std::in_place_index<REQUEST_RENDER_LEVEL>,
                                  RenderLevelRequest{static_cast<std::uint32_t>(i), 4096, segment->name()})};
    (void)write_message(conn.get(), encode_message(req));
    auto reply = read_message(conn.get());
    auto decoded = decode_message(**reply);
    const auto& resp = std::get<Response>(*decoded);
    if (resp.body.index() != RESPONSE_WRITTEN || std::get<RESPONSE_WRITTEN>(resp.body).value != 16) {
      std::fprintf(stderr, "unexpected reply\n");
      return 0;
    }
  }
  const double rate = n / (now() - t0);
  conn.reset();
  child.wait(5000);
  return rate;
}

double echo_rate(const std::string& peer, int n) {
  auto [child, conn] = start_peer({peer, "echo"});
  std::uint8_t buf[16] = {};
  const double t0 = now();
  for (int i = 0; i < n; ++i) {
    (void)write_message(conn.get(), std::span<const std::uint8_t>(buf, 16));
    std::size_t got = 0;
    while (got < 16) got += static_cast<std::size_t>(::recv(conn.get(), buf + got, 16 - got, 0));
  }
  const double rate = n / (now() - t0);
  conn.reset();
  child.wait(5000);
  return rate;
}

// Best of `runs`. The floor is memcpy into memory that was written before;
// write_output is timed into a segment the host reuses (written before) and
// into a fresh one (the host creates a segment per request: the kernel then
// allocates every page).
void segment_write(std::size_t size, int runs) {
  std::vector<std::uint8_t> payload(size, 0x5A), target(size, 0);
  double copy = 1e9, reused = 1e9, fresh = 1e9;
  auto kept = HostSegment::create(size);
  for (int r = 0; r < runs; ++r) {
    double t0 = now();
    std::memcpy(target.data(), payload.data(), size);
    copy = std::min(copy, now() - t0);

    t0 = now();
    auto written = write_output(kept->name(), payload);
    if (r > 0) reused = std::min(reused, now() - t0);  // run 0 allocates the pages
    if (!written || *written != size) std::fprintf(stderr, "write_output failed\n");

    auto segment = HostSegment::create(size);
    t0 = now();
    written = write_output(segment->name(), payload);
    fresh = std::min(fresh, now() - t0);
  }
  auto gbs = [&](double t) { return size / t / 1e9; };
  std::printf("3. 32,000,000-byte payload, best of %d: memcpy %.2f ms (%.2f GB/s); write_output into a reused "
              "segment %.2f ms (%.2f GB/s), ratio %.2f (goal >= 0.80); into a fresh segment %.2f ms (%.2f GB/s), "
              "ratio %.2f\n",
              runs, copy * 1e3, gbs(copy), reused * 1e3, gbs(reused), copy / reused, fresh * 1e3, gbs(fresh),
              copy / fresh);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: protocol_bench <plug-in> <bench_peer> [more plug-ins for start-up]\n");
    return 2;
  }
  const double floor = median_start({argv[2], "hello"}, 200);
  for (int i = 1; i < argc; ++i) {
    if (i == 2) continue;
    const double plugin = median_start({argv[i]}, 200);
    std::printf("1. start-up, median of 200: %s %.3f ms, C floor %.3f ms; ratio %.2f (goal <= 1.5)\n", argv[i],
                plugin * 1e3, floor * 1e3, plugin / floor);
  }
  const double levels = render_level_rate(argv[1], 10'000), echo = echo_rate(argv[2], 10'000);
  std::printf("2. 10,000 round trips: render_level %.0f/s, 16-byte echo %.0f/s; ratio %.2f (goal >= 0.5)\n", levels,
              echo, levels / echo);
  segment_write(32'000'000, 10);
  return 0;
}
