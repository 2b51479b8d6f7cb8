// The plug-ins a directory offers, read from their manifests the way the
// file manager reads them: each "<stem>.toml" names its executable (`exe`)
// and the file extensions it claims (`extensions`). Only those two keys are
// read; the first manifest (in name order) that claims an extension wins.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindle::host {

struct PluginEntry {
  std::string exe_path;                 // directory + exe
  std::vector<std::string> extensions;  // lower case, without the dot
};

std::vector<PluginEntry> read_manifests(const std::string& directory);

// The plug-in that claims `file`'s extension (compared case-insensitively).
std::optional<std::string> plugin_for(const std::vector<PluginEntry>& plugins, const std::string& file);

}  // namespace brindle::host
