// Reads a whole file named by a request path into memory.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::exe {

// The file's bytes, or the operating system's description of the failure
// followed by " (os error N)". A path holding a zero byte is refused with
// "file name contained an unexpected NUL byte" before any system call.
std::expected<std::vector<std::uint8_t>, std::string> read_whole_file(std::string_view path);

}  // namespace brindle::exe
