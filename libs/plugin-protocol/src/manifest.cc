#include "plugin_protocol/manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin_protocol/fd.h"
#include "plugin_protocol/framing.h"
#include "utf8.h"

namespace brindle {
namespace {

std::expected<std::string, std::string> executable_path() {
  std::string buf(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::unexpected(os_error_text(errno));
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

// The last path component, or nothing when the path has no final file name
// (the root directory, or a last component of "..").
std::expected<std::string, std::string> file_name(const std::string& path) {
  std::string_view p = path;
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  const auto slash = p.rfind('/');
  std::string_view name = slash == std::string_view::npos ? p : p.substr(slash + 1);
  if (name.empty() || name == ".." || name == "/") return std::unexpected(std::string());
  return std::string(name);
}

std::expected<std::string, std::string> parent_directory(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::unexpected(std::string("exe has no parent directory"));
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Replaces each ill-formed sequence by U+FFFD.
std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Longest valid sequence starting at i is at most 4 bytes.
    std::size_t len = 0;
    for (std::size_t l = 1; l <= 4 && i + l <= bytes.size(); ++l) {
      if (is_valid_utf8(bytes.substr(i, l))) {
        len = l;
        break;
      }
    }
    if (len) {
      out.append(bytes.substr(i, len));
      i += len;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

[[noreturn]] void fail(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  std::exit(1);
}

std::expected<std::string, std::string> write_file(const std::string& manifest_name, const std::string& content) {
  auto exe = executable_path();
  if (!exe) return std::unexpected(exe.error());
  auto dir = parent_directory(*exe);
  if (!dir) return std::unexpected(dir.error());
  std::string target = *dir == "/" ? "/" + manifest_name : *dir + "/" + manifest_name;
  Fd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid()) return std::unexpected(os_error_text(errno));
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error_text(errno));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd.release()) != 0) return std::unexpected(os_error_text(errno));
  return target;
}

}  // namespace

std::string manifest_stem(std::string_view name) {
  const auto dot = name.rfind('.');
  const std::string_view stem = (dot == std::string_view::npos || dot == 0) ? name : name.substr(0, dot);
  return lossy_utf8(stem);
}

std::expected<std::string, std::string> fill_manifest(std::string_view manifest_template, std::string_view version) {
  if (manifest_template.find(VERSION_PLACEHOLDER) == std::string_view::npos)
    return std::unexpected("manifest template has no `version = \"" + std::string(VERSION_PLACEHOLDER) + "\"` line");
  std::string out;
  std::size_t from = 0;
  for (auto at = manifest_template.find(VERSION_PLACEHOLDER); at != std::string_view::npos;
       at = manifest_template.find(VERSION_PLACEHOLDER, from)) {
    out.append(manifest_template.substr(from, at - from));
    out.append(version);
    from = at + VERSION_PLACEHOLDER.size();
  }
  out.append(manifest_template.substr(from));
  return out;
}

void write_manifests(std::string_view manifest_template, std::string_view version) {
  const char* unknown = "error writing manifest: cannot determine the executable name";
  auto exe = executable_path();
  if (!exe) fail(unknown);
  auto name = file_name(*exe);
  if (!name) fail(unknown);
  const std::string manifest_name = manifest_stem(*name) + ".toml";

  auto content = fill_manifest(manifest_template, version);
  if (!content) fail("error writing " + manifest_name + ": " + content.error());
  auto target = write_file(manifest_name, *content);
  if (!target) fail("error writing " + manifest_name + ": " + target.error());
  std::fprintf(stderr, "wrote %s\n", target->c_str());
  std::fflush(stderr);
  std::exit(0);
}

}  // namespace brindle
