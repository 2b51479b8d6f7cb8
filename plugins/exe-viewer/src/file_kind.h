// Decides which of the ten supported kinds a file is from its first bytes,
// before any format reader runs. The failure texts are the report's own and
// do not depend on any library.
#pragma once

#include <expected>
#include <string>

#include "bytes.h"
#include "object_file.h"

namespace brindle::exe {

inline constexpr std::string_view ERR_NO_MAGIC = "Could not read file magic";
inline constexpr std::string_view ERR_UNKNOWN_MAGIC = "Unknown file magic";
inline constexpr std::string_view ERR_UNKNOWN_DOS = "Unknown MS-DOS file";
inline constexpr std::string_view ERR_UNKNOWN_ANON = "Unknown anon object file";
inline constexpr std::string_view ERR_UNSUPPORTED = "Unsupported file format";

std::expected<FileKind, std::string> detect_file_kind(Bytes data);

}  // namespace brindle::exe
