#include "utf8.h"

#include <cstdint>

namespace brindle {

bool is_valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const std::uint8_t c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int len;
    std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (end - p < len) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (int i = 2; i < len; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    p += len;
  }
  return true;
}

}  // namespace brindle
