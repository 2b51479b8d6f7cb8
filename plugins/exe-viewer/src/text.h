// Text helpers of the report: UTF-8 checks and lossy conversion, the hex
// and decimal number forms, and column padding counted in characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bytes.h"

namespace brindle::exe {

bool is_valid_utf8(std::string_view s);

// `s` with every invalid UTF-8 sequence replaced by U+FFFD (maximal-subpart
// rule: one replacement per ill-formed prefix).
std::string utf8_lossy(std::string_view s);
inline std::string utf8_lossy(Bytes b) { return utf8_lossy(as_chars(b)); }

// Number of Unicode scalar values in valid UTF-8 text.
std::size_t char_count(std::string_view s);

// "0x" and 16 lower-case hexadecimal digits.
std::string hex18(std::uint64_t v);
// "0x" and the lower-case hexadecimal digits without padding.
std::string hex(std::uint64_t v);

// Appends `s`, then spaces up to `width` characters (nothing is cut).
void append_left(std::string& out, std::string_view s, std::size_t width);
// Appends spaces up to `width` characters, then `s` (nothing is cut).
void append_right(std::string& out, std::string_view s, std::size_t width);

}  // namespace brindle::exe
