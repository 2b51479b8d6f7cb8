#include "manifest_index.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace brindle::host {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// Every "..." string in `text`.
std::vector<std::string> quoted_strings(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t at = text.find('"'); at != std::string::npos;) {
    const auto end = text.find('"', at + 1);
    if (end == std::string::npos) break;
    out.push_back(text.substr(at + 1, end - at - 1));
    at = text.find('"', end + 1);
  }
  return out;
}

std::optional<PluginEntry> parse(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line, exe;
  std::vector<std::string> extensions;
  while (std::getline(in, line)) {
    if (line.rfind("exe", 0) == 0 && line.find('=') != std::string::npos) {
      auto q = quoted_strings(line);
      if (!q.empty()) exe = q.front();
    } else if (line.rfind("extensions", 0) == 0) {
      std::string list = line;
      while (list.find(']') == std::string::npos && std::getline(in, line)) list += line;
      for (auto& e : quoted_strings(list)) extensions.push_back(lower(e));
    }
  }
  if (exe.empty()) return std::nullopt;
  return PluginEntry{(file.parent_path() / exe).string(), std::move(extensions)};
}

}  // namespace

std::vector<PluginEntry> read_manifests(const std::string& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ec))
    if (entry.path().extension() == ".toml") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<PluginEntry> out;
  for (const auto& f : files)
    if (auto e = parse(f)) out.push_back(std::move(*e));
  return out;
}

std::optional<std::string> plugin_for(const std::vector<PluginEntry>& plugins, const std::string& file) {
  const auto ext = std::filesystem::path(file).extension().string();
  if (ext.size() < 2) return std::nullopt;
  const auto wanted = lower(ext.substr(1));
  for (const auto& p : plugins)
    if (std::find(p.extensions.begin(), p.extensions.end(), wanted) != p.extensions.end()) return p.exe_path;
  return std::nullopt;
}

}  // namespace brindle::host
