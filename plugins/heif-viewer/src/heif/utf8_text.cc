#include "heif/utf8_text.h"

#include <cstdint>

namespace brindle::heif {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at the start of `s`, or the length of
// the maximal prefix of a sequence that cannot be completed, negated (at
// least 1), following the "maximal subpart" rule.
int valid_sequence(std::string_view s) {
  const auto b0 = static_cast<std::uint8_t>(s[0]);
  if (b0 < 0x80) return 1;
  int need = 0;
  std::uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i <= need; ++i) {
    if (static_cast<std::size_t>(i) >= s.size()) return -i;
    const auto b = static_cast<std::uint8_t>(s[i]);
    if (b < lo || b > hi) return -i;
    lo = 0x80;
    hi = 0xBF;
  }
  return need + 1;
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const int n = valid_sequence(bytes);
    if (n > 0) {
      out.append(bytes.substr(0, static_cast<std::size_t>(n)));
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else {
      out.append(REPLACEMENT);
      bytes.remove_prefix(static_cast<std::size_t>(-n));
    }
  }
  return out;
}

std::string utf8_lossy(const char* text) { return text ? utf8_lossy(std::string_view(text)) : std::string(); }

}  // namespace brindle::heif
