// One `render` of large real binaries through the exe-viewer plug-in, side
// by side with `nm -DC` and `readelf -W -S -d --dyn-syms` on the same files:
// wall time (best of N runs) and peak resident memory of each process.
//
//   exe_bench PLUGIN [FILE...]
//
// Without files it measures the shared LLVM library and the plug-in's own
// executable (a large C++ program linked statically with a full symbol
// table).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host_session.h"

namespace {

constexpr int RUNS = 5;
constexpr std::uint64_t OUTPUT_SEGMENT = 256ull << 20;
constexpr std::uint64_t HEADROOM = 64ull << 20;

struct Sample {
  double seconds = 1e9;
  std::uint64_t peak_kib = 0;
  std::uint64_t output_bytes = 0;
  bool ok = true;
};

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::uint64_t vm_hwm_kib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6));
  return 0;
}

void keep(Sample& best, double seconds, std::uint64_t kib) {
  if (seconds < best.seconds) best.seconds = seconds;
  if (kib > best.peak_kib) best.peak_kib = kib;
}

Sample run_plugin(const std::string& plugin, const std::string& file) {
  Sample best;
  for (int i = 0; i < RUNS; ++i) {
    auto session = brindle::host::HostSession::start(plugin);
    if (!session) {
      std::fprintf(stderr, "start: %s\n", session.error().c_str());
      best.ok = false;
      return best;
    }
    double t0 = now();
    auto reply = session->render_path(file, OUTPUT_SEGMENT);
    double t1 = now();
    if (!reply || !reply->ok()) {
      best.ok = false;
      return best;
    }
    best.output_bytes = reply->written;
    keep(best, t1 - t0, vm_hwm_kib(session->pid()));
    session->finish();
  }
  return best;
}

Sample run_tool(const std::vector<std::string>& argv) {
  Sample best;
  for (int i = 0; i < RUNS; ++i) {
    double t0 = now();
    pid_t pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    double t1 = now();
    best.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    keep(best, t1 - t0, static_cast<std::uint64_t>(usage.ru_maxrss));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PLUGIN [FILE...]\n", argv[0]);
    return 2;
  }
  std::string plugin = argv[1];
  std::vector<std::string> files(argv + 2, argv + argc);
  if (files.empty()) files = {"/usr/lib/x86_64-linux-gnu/libLLVM-14.so.1", plugin};

  std::printf("%-44s %10s %9s %9s  %s\n", "file / tool", "size MiB", "best s", "peak MiB", "note");
  int status = 0;
  for (const auto& file : files) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
      std::fprintf(stderr, "cannot stat %s\n", file.c_str());
      return 1;
    }
    double mib = static_cast<double>(st.st_size) / (1 << 20);
    Sample plug = run_plugin(plugin, file);
    Sample nm = run_tool({"nm", "-DC", file});
    Sample readelf = run_tool({"readelf", "-W", "-S", "-d", "--dyn-syms", file});
    std::uint64_t budget_kib = (static_cast<std::uint64_t>(st.st_size) + plug.output_bytes + HEADROOM) / 1024;
    std::printf("%s (%.1f MiB, report %.1f MiB)\n", file.c_str(), mib,
                static_cast<double>(plug.output_bytes) / (1 << 20));
    std::printf("  %-42s %10s %9.3f %9.1f  budget %.1f MiB: %s\n", "exe-viewer render", "", plug.seconds,
                plug.peak_kib / 1024.0, budget_kib / 1024.0, plug.peak_kib <= budget_kib ? "within" : "OVER");
    std::printf("  %-42s %10s %9.3f %9.1f  %s\n", "nm -DC", "", nm.seconds, nm.peak_kib / 1024.0,
                nm.ok ? "" : "(failed)");
    std::printf("  %-42s %10s %9.3f %9.1f  %s\n", "readelf -W -S -d --dyn-syms", "", readelf.seconds,
                readelf.peak_kib / 1024.0, readelf.ok ? "" : "(failed)");
    std::printf("  ratio nm -DC / exe-viewer: %.2fx   readelf / exe-viewer: %.2fx\n", nm.seconds / plug.seconds,
                readelf.seconds / plug.seconds);
    if (!plug.ok) status = 1;
  }
  return status;
}
