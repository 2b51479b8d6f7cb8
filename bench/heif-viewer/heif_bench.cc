// heif-viewer benchmark: one preview session on a 4032 × 3024 HEIC (render,
// then every render_level, through the real protocol) against heif-convert
// of the same file to PNG and against the floor, libheif's own decode of it
// to an interleaved RGB image in a process of its own.
//
//   heif_bench HEIF_VIEWER_EXE [FILE.heic] [ROUNDS]
//   heif_bench --floor FILE.heic        (the floor process itself)
//
// Without FILE a picture is drawn and encoded with heif-enc. Rounds are
// interleaved so that load from elsewhere hits all three alike; wall times
// are medians, peak RSS the largest seen.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "heif/heif_context.h"
#include "heif/level_plan.h"
#include "heif/probe.h"
#include "host_session.h"
#include "testing/heic_fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace heif = brindle::heif;

struct Sample {
  double seconds = 0;
  double cpu_seconds = 0;  // user + system of the measured process
  long peak_kib = 0;
};

double cpu_of(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// The floor: open, decode to interleaved RGB, release. Nothing else.
int run_floor(const std::string& path) {
  auto context = heif::open_context(path);
  if (!context) return std::fprintf(stderr, "%s\n", context.error().c_str()), 1;
  auto handle = heif::primary_image_handle(*context);
  if (!handle) return std::fprintf(stderr, "%s\n", handle.error().c_str()), 1;
  heif::LibheifImage* raw = nullptr;
  const auto error = context->lib().decode_image(handle->get(), &raw, heif::HEIF_COLORSPACE_RGB,
                                                 heif::HEIF_CHROMA_INTERLEAVED_RGB, nullptr);
  heif::HeifImage image(&context->lib(), raw);
  if (error.code != 0 || !raw) return std::fprintf(stderr, "decode failed\n"), 1;
  return 0;
}

// Runs argv to completion; wall time from fork to reap, peak RSS of the child.
Sample run_child(const std::vector<std::string>& argv) {
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
  return {seconds, cpu_of(usage), usage.ru_maxrss};
}

// utime + stime of a live process, from /proc/PID/stat.
double cpu_seconds_of(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::size_t at = text.rfind(')');  // the command name may contain blanks
  if (at == std::string::npos) return -1;
  std::vector<std::string> fields;
  std::string field;
  for (std::size_t i = at + 2; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += text[i];
    }
  }
  // Fields after ")": state is the first; utime and stime are the 12th and 13th.
  if (fields.size() < 13) return -1;
  return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long peak_rss_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// One host session: render, then every level; the plug-in's own peak RSS is
// read just before the connection closes.
Sample run_session(const std::string& exe, const std::string& file, std::size_t* levels_out) {
  const auto t0 = Clock::now();
  auto session = brindle::host::HostSession::start(exe);
  if (!session) std::fprintf(stderr, "%s\n", session.error().c_str()), std::exit(1);
  auto table = session->render_path(file, 64u << 20);
  if (!table || !table->ok()) std::fprintf(stderr, "render failed\n"), std::exit(1);
  const std::uint32_t levels = (*table->payload)[15] | ((*table->payload)[16] << 8);
  for (std::uint32_t i = 0; i < levels; ++i) {
    auto level = session->render_level(i, 64u << 20);
    if (!level || !level->ok()) std::fprintf(stderr, "render_level %u failed\n", i), std::exit(1);
  }
  const long peak = peak_rss_kib(session->pid());
  const double cpu = cpu_seconds_of(session->pid());
  const auto exit = session->finish();
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  if (!exit.exited || exit.status != 0) std::fprintf(stderr, "plug-in ended badly\n"), std::exit(1);
  *levels_out = levels;
  return {seconds, cpu, peak};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Floor {
  double wall = 0;
  double cpu = 0;
};

void report(const char* what, const std::vector<Sample>& samples, const Floor& floor) {
  std::vector<double> walls, cpus;
  long peak = 0;
  for (const auto& s : samples) {
    walls.push_back(s.seconds);
    cpus.push_back(s.cpu_seconds);
    peak = std::max(peak, s.peak_kib);
  }
  std::printf("%-28s wall %7.3f s %6.2fx   cpu %7.3f s %6.2fx   peak RSS %6.1f MiB\n", what, median(walls),
              median(walls) / floor.wall, median(cpus), median(cpus) / floor.cpu, peak / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--floor") return run_floor(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: heif_bench HEIF_VIEWER_EXE [FILE.heic] [ROUNDS]\n");
    return 2;
  }
  const std::string exe = argv[1];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  heif::testing::TempDir dir;
  std::string file = argc > 2 ? argv[2] : "";
  if (file.empty()) {
    file = dir.file("bench.heic");
    const std::string png = dir.file("bench.png");
    if (!heif::testing::write_png(png, heif::testing::make_pattern(4032, 3024, 3)) ||
        !heif::testing::encode_heic(png, file)) {
      std::fprintf(stderr, "could not make the benchmark file\n");
      return 1;
    }
  }
  auto size = heif::probe_image(file);
  if (!size) return std::fprintf(stderr, "%s\n", size.error().c_str()), 1;

  const std::string self = "/proc/self/exe";
  std::vector<Sample> floor, plugin, convert;
  std::size_t levels = 0;
  for (int r = 0; r < rounds; ++r) {
    floor.push_back(run_child({self, "--floor", file}));
    plugin.push_back(run_session(exe, file, &levels));
    convert.push_back(run_child({"heif-convert", "--quiet", file, dir.file("out.png")}));
  }

  std::vector<double> floor_walls, floor_cpus;
  for (const auto& s : floor) {
    floor_walls.push_back(s.seconds);
    floor_cpus.push_back(s.cpu_seconds);
  }
  const Floor floor_medians{median(floor_walls), median(floor_cpus)};
  std::printf("%s: %u×%u, %zu levels, %d rounds\n", file.c_str(), size->width, size->height, levels, rounds);
  std::printf("medians; ratios are to the floor; the session's cpu is the plug-in's alone\n");
  report("floor (libheif decode, RGB)", floor, floor_medians);
  report("heif-viewer session", plugin, floor_medians);
  report("heif-convert to PNG", convert, floor_medians);

  const auto base = heif::level_size(size->width, size->height, heif::plan_levels(size->width, size->height).back());
  const double plane_mib = 3.0 * size->width * size->height / 1048576.0;
  const double base_mib = 4.0 * base.width * base.height / 1048576.0;
  long plugin_peak = 0;
  for (const auto& s : plugin) plugin_peak = std::max(plugin_peak, s.peak_kib);
  std::printf("RSS budget: plane %.1f + base %.1f + 64 MiB = %.1f MiB; plug-in peak %.1f MiB\n", plane_mib, base_mib,
              plane_mib + base_mib + 64, plugin_peak / 1024.0);
  return 0;
}
