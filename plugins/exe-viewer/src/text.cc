#include "text.h"

#include <charconv>

namespace brindle::exe {

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 when the bytes
// there do not start one. Follows the table of well-formed byte sequences
// (no overlongs, no surrogates, nothing above U+10FFFF).
std::size_t sequence_length(std::string_view s, std::size_t i, std::size_t* valid_prefix) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  *valid_prefix = 1;
  if (c < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return 0;
    unsigned char d = b(i + k);
    unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
    if (d < l || d > h) return 0;
    *valid_prefix = k + 1;
  }
  return need + 1;
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    // Fast path over ASCII runs: names are almost always plain ASCII.
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t prefix;
    std::size_t n = sequence_length(s, i, &prefix);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8_lossy(std::string_view s) {
  if (is_valid_utf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t prefix;
    std::size_t n = sequence_length(s, i, &prefix);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      i += prefix;
    } else {
      out.append(s.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::size_t char_count(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string hex18(std::uint64_t v) {
  std::string out = "0x0000000000000000";
  for (int i = 17; i >= 2 && v != 0; --i, v >>= 4) out[i] = "0123456789abcdef"[v & 0xF];
  return out;
}

std::string hex(std::uint64_t v) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  std::string out = "0x";
  out.append(buf, r.ptr);
  return out;
}

void append_left(std::string& out, std::string_view s, std::size_t width) {
  out += s;
  std::size_t n = char_count(s);
  if (n < width) out.append(width - n, ' ');
}

void append_right(std::string& out, std::string_view s, std::size_t width) {
  std::size_t n = char_count(s);
  if (n < width) out.append(width - n, ' ');
  out += s;
}

}  // namespace brindle::exe
