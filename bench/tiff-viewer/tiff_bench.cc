// tiff-viewer against its peers on the files of make_fixtures, one run:
//   tiff_bench PLUGIN PREVIEW DIR      (PREVIEW: the brindle-preview tool)
//   tiff_bench --floor FILE            (decodes every tile with libtiff alone)
// Wall times are medians of several runs; the plug-in is timed through the
// host session (spawn included) or the host tool, peers as whole processes,
// single-threaded. Peak RSS is VmHWM of the plug-in and ru_maxrss of peers;
// bytes read are the processes' rchar.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host_session.h"
#include "main/tiff_viewer.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::uint64_t proc_field(pid_t pid, const char* file, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::stoull(line.substr(key.size()));
  }
  return 0;
}

struct Run {
  double seconds = 0;
  long max_rss_kb = 0;
  std::uint64_t rchar = 0;
  int status = 0;
};

Run run_process(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  siginfo_t info{};
  waitid(P_PID, pid, &info, WEXITED | WNOWAIT);  // keep the zombie to read its I/O counters
  Run r;
  r.seconds = since(start);
  r.rchar = proc_field(pid, "io", "rchar: ");
  struct rusage ru {};
  int status = 0;
  wait4(pid, &status, 0, &ru);
  r.max_rss_kb = ru.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

template <typename F>
Run median(int n, F once) {
  std::vector<Run> runs;
  for (int i = 0; i < n; ++i) runs.push_back(once());
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

// The plug-in through the host session: spawn, render, then optionally one
// render_level, or render_region for each window (x, y, w, h) in `regions`.
Run plugin_run(const std::string& exe, const std::string& file, int level,
               const std::vector<std::uint32_t>& regions = {}) {
  const auto start = Clock::now();
  auto session = brindle::host::HostSession::start(exe);
  if (!session) {
    std::fprintf(stderr, "start: %s\n", session.error().c_str());
    std::exit(1);
  }
  auto table = session->render_path(file, 1 << 20);
  if (!table || !table->ok()) {
    std::fprintf(stderr, "render failed\n");
    std::exit(1);
  }
  auto check = [](const auto& reply) {
    if (!reply || !reply->ok()) {
      std::fprintf(stderr, "render_level/region failed: %s\n", reply ? reply->error_message.c_str() : "");
      std::exit(1);
    }
  };
  if (level >= 0 && regions.empty()) check(session->render_level(static_cast<std::uint32_t>(level), 64 << 20));
  for (std::size_t i = 0; i + 3 < regions.size(); i += 4) {
    check(session->render_region(static_cast<std::uint32_t>(level), regions[i], regions[i + 1], regions[i + 2],
                                 regions[i + 3], 64 << 20));
  }
  Run r;
  r.seconds = since(start);
  r.max_rss_kb = static_cast<long>(proc_field(session->pid(), "status", "VmHWM:"));
  r.rchar = proc_field(session->pid(), "io", "rchar: ");
  session->finish();
  return r;
}

int decode_floor(const char* file) {
  TIFF* t = TIFFOpen(file, "r");
  if (!t) return 1;
  std::vector<std::uint8_t> buf(TIFFTileSize(t));
  for (std::uint32_t i = 0; i < TIFFNumberOfTiles(t); ++i) {
    if (TIFFReadEncodedTile(t, i, buf.data(), static_cast<tmsize_t>(buf.size())) < 0) return 1;
  }
  TIFFClose(t);
  return 0;
}

void row(const char* what, const Run& r) {
  std::printf("  %-44s %8.3f s  %8.1f MiB peak  %12llu bytes read\n", what, r.seconds, r.max_rss_kb / 1024.0,
              static_cast<unsigned long long>(r.rchar));
}

void ratio(const char* what, const Run& ours, const Run& theirs) {
  std::printf("  ratio %-38s %8.2f (plug-in time / other time)\n", what, ours.seconds / theirs.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--floor") return decode_floor(argv[2]);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PLUGIN PREVIEW DIR | --floor FILE\n", argv[0]);
    return 2;
  }
  const std::string plugin = argv[1], preview = argv[2], dir = argv[3];
  const std::string self = "/proc/self/exe";
  char self_path[4096] = {};
  readlink(self.c_str(), self_path, sizeof self_path - 1);
  const std::map<std::string, std::string> gdal_env = {{"GDAL_NUM_THREADS", "1"}, {"GDAL_CACHEMAX", "64"}};

  std::printf("== render (level table only)\n");
  std::printf("  (bytes read = rchar, the bytes of read() calls; tiffinfo and the decode floor map the file,\n"
              "   so their figure leaves the file out)\n");
  for (const char* name : {"big.tif", "pages.tif"}) {
    const std::string file = dir + "/" + name;
    std::ifstream sized(file, std::ios::ate | std::ios::binary);
    std::printf("%s (%lld bytes)\n", name, static_cast<long long>(sized.tellg()));
    const Run ours = median(5, [&] { return run_process({preview, "--plugin", plugin, file}); });
    const Run session = median(5, [&] { return plugin_run(plugin, file, -1); });
    const Run tiffinfo = median(5, [&] { return run_process({"tiffinfo", file}); });
    const Run gdalinfo = median(5, [&] { return run_process({"gdalinfo", file}, gdal_env); });
    row("brindle-preview FILE (whole tool)", ours);
    row("plug-in alone (host session)", session);
    row("tiffinfo FILE", tiffinfo);
    row("gdalinfo FILE", gdalinfo);
    ratio("host tool vs tiffinfo", ours, tiffinfo);
    ratio("host tool vs gdalinfo", ours, gdalinfo);
  }

  std::printf("\n== render_level of geo16.tif (10000x8000 16-bit, no-data)\n");
  const std::string geo = dir + "/geo16.tif";
  const Run floor = median(3, [&] { return run_process({self_path, "--floor", geo}); });
  row("floor: libtiff decodes every tile", floor);
  const std::map<std::string, std::string> vips_env = {{"VIPS_CONCURRENCY", "1"}};
  struct LevelCase {
    int level;
    const char* size;
    const char* w;
    const char* h;
  };
  for (const LevelCase c : {LevelCase{2, "1250x1000", "1250", "1000"}, LevelCase{4, "5000x4000", "5000", "4000"}}) {
    std::printf("level %d (%s)\n", c.level, c.size);
    // 5000 x 4000 is above the render cap: render_level refuses it and the
    // host fetches it as three windows of at most 8000000 pixels.
    const std::vector<std::uint32_t> bands =
        c.level == 4 ? std::vector<std::uint32_t>{0, 0, 5000, 1600, 0, 1600, 5000, 1600, 0, 3200, 5000, 800}
                     : std::vector<std::uint32_t>{};
    const Run ours = median(3, [&] { return plugin_run(plugin, geo, c.level, bands); });
    const Run vips = median(3, [&] {
      return run_process({"vipsthumbnail", geo, "--size", c.size, "-o", "/tmp/tiff_bench_out.v"}, vips_env);
    });
    const Run gdal = median(3, [&] {
      return run_process({"gdal_translate", "-q", "-r", "average", "-outsize", c.w, c.h, geo, "/tmp/tiff_bench_out.tif"},
                         gdal_env);
    });
    row(bands.empty() ? "plug-in: spawn + render + render_level" : "plug-in: spawn + render + 3 render_region", ours);
    row("vipsthumbnail (VIPS_CONCURRENCY=1)", vips);
    row("gdal_translate -r average (GDAL_NUM_THREADS=1)", gdal);
    ratio("plug-in vs decode floor", ours, floor);
    ratio("plug-in vs vipsthumbnail", ours, vips);
    ratio("plug-in vs gdal_translate", ours, gdal);
  }

  std::printf("\n== render_region 256x256 at factor 1 of big.tif, window at (20100, 20100)\n");
  const std::string big = dir + "/big.tif";
  brindle::tiff::TiffViewer viewer;
  if (!viewer.render(brindle::RenderSource::from_path(big))) return 1;
  const auto top = static_cast<std::uint32_t>(viewer.doc()->levels.size() - 1);
  if (!viewer.render_region(top, 20100, 20100, 256, 256)) return 1;
  std::printf("  tiles decoded by the plug-in: %zu (tiles beneath the window: 4)\n",
              viewer.last_render_stats().decoded_chunks.size());
  const Run ours = median(5, [&] { return plugin_run(plugin, big, static_cast<int>(top), {20100, 20100, 256, 256}); });
  const Run gdal = median(5, [&] {
    return run_process({"gdal_translate", "-q", "-srcwin", "20100", "20100", "256", "256", big, "/tmp/tiff_bench_out.tif"},
                       gdal_env);
  });
  row("plug-in: spawn + render + render_region", ours);
  row("gdal_translate -srcwin", gdal);
  ratio("plug-in vs gdal_translate", ours, gdal);
  return 0;
}
