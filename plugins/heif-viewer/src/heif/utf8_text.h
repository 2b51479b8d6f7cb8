// Text that libheif hands out (version strings, error messages) is a C string
// in no promised encoding; the viewer only forwards valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace brindle::heif {

// `bytes` as UTF-8, each maximal invalid sequence replaced by one U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// A possibly null C string as UTF-8 (null reads as empty).
std::string utf8_lossy(const char* text);

}  // namespace brindle::heif
