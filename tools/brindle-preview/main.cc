// brindle-preview: previews a file through a viewer plug-in exactly as the
// file manager does, and prints or saves what the plug-in answers.
//
// Exit status: 0 success, 1 the plug-in answered with an error, 2 bad
// arguments or no plug-in for the file, 3 the plug-in failed (died, broke the
// protocol, or could not be started).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host_session.h"
#include "image_reader.h"
#include "manifest_index.h"
#include "png_writer.h"

namespace {

using namespace brindle;
using namespace brindle::host;

constexpr std::uint64_t FIRST_RENDER_SEGMENT = 64ull << 20;
constexpr std::uint64_t LARGEST_RENDER_SEGMENT = 4ull << 30;

const char USAGE[] =
    "usage: brindle-preview [--plugin EXE] [--plugin-dir DIR] [--shm] FILE\n"
    "                       [--level N | --region N X Y W H] [--out IMAGE.png] [--raw PAYLOAD]\n"
    "  Renders FILE with the plug-in that claims its extension (or EXE) and prints\n"
    "  the level table or the text report. --level / --region fetch one level or\n"
    "  one window of a level; --out saves it as PNG. --shm passes the file's bytes\n"
    "  through shared memory instead of its path. --raw saves the last payload.\n";

struct Options {
  std::string plugin, plugin_dir, file, out, raw;
  bool shm = false;
  std::optional<std::uint32_t> level;
  std::optional<std::array<std::uint32_t, 5>> region;
};

[[noreturn]] void usage_error(const std::string& message) {
  std::fprintf(stderr, "brindle-preview: %s\n%s", message.c_str(), USAGE);
  std::exit(2);
}

std::uint32_t number(const char* text) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (!*text || *end || v > 0xFFFFFFFFull) usage_error(std::string("not a number: ") + text);
  return static_cast<std::uint32_t>(v);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) usage_error(a + " needs a value");
      return argv[++i];
    };
    if (a == "--plugin") o.plugin = next();
    else if (a == "--plugin-dir") o.plugin_dir = next();
    else if (a == "--shm") o.shm = true;
    else if (a == "--out") o.out = next();
    else if (a == "--raw") o.raw = next();
    else if (a == "--level") o.level = number(next());
    else if (a == "--region") {
      std::array<std::uint32_t, 5> r{};
      for (auto& v : r) v = number(next());
      o.region = r;
    } else if (a == "-h" || a == "--help") {
      std::fputs(USAGE, stdout);
      std::exit(0);
    } else if (a.rfind("--", 0) == 0) usage_error("unknown option " + a);
    else if (o.file.empty()) o.file = a;
    else usage_error("more than one file given");
  }
  if (o.file.empty()) usage_error("no file given");
  if (o.level && o.region) usage_error("--level and --region exclude each other");
  if (!o.out.empty() && !o.level && !o.region) usage_error("--out needs --level or --region");
  return o;
}

std::string find_plugin(const Options& o) {
  if (!o.plugin.empty()) return o.plugin;
  std::vector<std::string> dirs;
  if (!o.plugin_dir.empty()) {
    dirs.push_back(o.plugin_dir);
  } else {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    dirs.push_back(self.string());
    dirs.push_back((self / ".." / "lib" / "brindle" / "plugins").string());
  }
  for (const auto& d : dirs)
    if (auto exe = plugin_for(read_manifests(d), o.file)) return *exe;
  std::fprintf(stderr, "brindle-preview: no plug-in claims the file type of %s\n", o.file.c_str());
  std::exit(2);
}

[[noreturn]] void plugin_failed(HostSession& session, const std::string& what) {
  auto exit = session.finish(2000);
  std::fprintf(stderr, "brindle-preview: the plug-in failed: %s\n", what.c_str());
  if (exit.exited) std::fprintf(stderr, "plug-in exit status %d\n", exit.status);
  else std::fprintf(stderr, "plug-in killed by signal %d\n", exit.status);
  if (!exit.stderr_text.empty()) std::fprintf(stderr, "plug-in said:\n%s", exit.stderr_text.c_str());
  std::exit(3);
}

// The payload of a successful reply; an error reply ends the program.
std::vector<std::uint8_t> payload_or_exit(HostSession& session, std::expected<Reply, std::string> reply) {
  if (!reply) plugin_failed(session, reply.error());
  if (!reply->ok()) {
    std::fprintf(stderr, "brindle-preview: error (%s): %s\n", error_code_name(reply->error_code).c_str(),
                 reply->error_message.c_str());
    std::exit(1);
  }
  return std::move(*reply->payload);
}

std::vector<std::uint8_t> render(HostSession& session, const Options& o) {
  std::vector<std::uint8_t> content;
  if (o.shm) {
    std::ifstream in(o.file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "brindle-preview: cannot read %s\n", o.file.c_str());
      std::exit(2);
    }
    content.assign(std::istreambuf_iterator<char>(in), {});
  }
  // A payload that fills its segment may have been cut: ask again with room.
  for (std::uint64_t size = FIRST_RENDER_SEGMENT;; size *= 4) {
    auto reply = o.shm ? session.render_bytes(content, size) : session.render_path(o.file, size);
    auto payload = payload_or_exit(session, std::move(reply));
    if (payload.size() < size || size >= LARGEST_RENDER_SEGMENT) return payload;
  }
}

void save_raw(const std::string& path, const std::vector<std::uint8_t>& payload) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
  if (!out) {
    std::fprintf(stderr, "brindle-preview: cannot write %s\n", path.c_str());
    std::exit(2);
  }
}

void print_level_table(const ImageView& table) {
  std::printf("%zu level(s), source %u channel(s) of %u bits, largest %u×%u\n", table.frames.size(),
              table.channels, table.bit_depth, table.width, table.height);
  for (std::size_t i = 0; i < table.frames.size(); ++i)
    std::printf("  level %zu: %u×%u\n", i, table.frames[i].width, table.frames[i].height);
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const std::string plugin = find_plugin(o);
  auto session = HostSession::start(plugin);
  if (!session) {
    std::fprintf(stderr, "brindle-preview: cannot start %s: %s\n", plugin.c_str(), session.error().c_str());
    return 3;
  }

  auto payload = render(*session, o);
  std::optional<ImageView> table;
  if (is_image_payload(payload)) {
    auto parsed = read_image(payload);
    if (!parsed) plugin_failed(*session, "level table: " + parsed.error());
    table = *parsed;
  }
  if (!o.level && !o.region) {
    if (table) print_level_table(*table);
    else std::fwrite(payload.data(), 1, payload.size(), stdout);
    if (!o.raw.empty()) save_raw(o.raw, payload);
    return 0;
  }

  std::uint64_t size = 0;
  std::expected<Reply, std::string> reply;
  if (o.level) {
    if (table && *o.level < table->frames.size()) {
      const auto& f = table->frames[*o.level];
      size = static_cast<std::uint64_t>(f.width) * f.height * 4 + 31;
    } else {
      size = 64 << 20;  // unknown level: room for anything under the render caps
    }
    reply = session->render_level(*o.level, size);
  } else {
    const auto& r = *o.region;
    size = static_cast<std::uint64_t>(r[3]) * r[4] * 4 + 31;
    reply = session->render_region(r[0], r[1], r[2], r[3], r[4], size);
  }
  auto image_bytes = payload_or_exit(*session, std::move(reply));
  if (!o.raw.empty()) save_raw(o.raw, image_bytes);
  auto image = read_image(image_bytes);
  if (!image || image->frames.size() != 1) plugin_failed(*session, "the reply is not a one-frame image");
  const auto& frame = image->frames[0];
  std::printf("%u×%u pixels\n", frame.width, frame.height);
  if (!o.out.empty()) {
    if (auto written = write_png(o.out, frame.width, frame.height, frame.pixels); !written) {
      std::fprintf(stderr, "brindle-preview: %s\n", written.error().c_str());
      return 2;
    }
  }
  auto exit = session->finish();
  if (!exit.exited || exit.status != 0) {
    std::fprintf(stderr, "brindle-preview: the plug-in ended with status %d\n", exit.status);
    return 3;
  }
  return 0;
}
