// Manifest mode: the plug-in writes its manifest (its compiled-in template
// with the version filled in) beside its own executable, named after the
// executable's stem plus ".toml", then ends the process: status 0 after
// writing, 1 after the first failure. Its only outputs are the file and
// lines on standard error.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace brindle {

inline constexpr std::string_view VERSION_PLACEHOLDER = "@VANTO_PKG_VERSION@";

[[noreturn]] void write_manifests(std::string_view manifest_template, std::string_view version);

// The file-name stem rule: the part before the last "." when the name has a
// "." after its first character, otherwise the whole name; bytes that are
// not UTF-8 become U+FFFD.
std::string manifest_stem(std::string_view file_name);

// Fills the version in; fails when the template has no placeholder.
std::expected<std::string, std::string> fill_manifest(std::string_view manifest_template, std::string_view version);

}  // namespace brindle
