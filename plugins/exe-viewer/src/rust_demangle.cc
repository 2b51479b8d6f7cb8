#include "rust_demangle.h"

#include <llvm/Demangle/Demangle.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <vector>

namespace brindle::exe {

namespace {

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ThinLTO renames internal symbols by appending ".llvm." and a hash.
std::string_view strip_llvm_suffix(std::string_view s) {
  static constexpr std::string_view LLVM_SUFFIX = ".llvm.";
  auto at = s.find(LLVM_SUFFIX);
  if (at == std::string_view::npos) return s;
  std::string_view tail = s.substr(at + LLVM_SUFFIX.size());
  for (char c : tail)
    if (!is_hex(c) && c != '@') return s;
  return s.substr(0, at);
}

// Suffixes that compilers append after the mangled name (".cold", ".0").
bool is_symbol_like(std::string_view s) {
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || !(std::isalnum(u) || std::ispunct(u))) return false;
  }
  return true;
}

// A legacy element that is only the hash: "h" and 16 hexadecimal digits.
bool is_rust_hash(std::string_view e) {
  if (e.size() != 17 || e[0] != 'h') return false;
  for (char c : e.substr(1))
    if (!is_hex(c)) return false;
  return true;
}

// Appends one legacy path element with its `$`-escapes and `..` decoded.
void append_legacy_element(std::string& out, std::string_view rest) {
  if (rest.starts_with("_$")) rest.remove_prefix(1);
  while (!rest.empty()) {
    if (rest[0] == '.') {
      if (rest.size() > 1 && rest[1] == '.') {
        out += "::";
        rest.remove_prefix(2);
      } else {
        out += '.';
        rest.remove_prefix(1);
      }
    } else if (rest[0] == '$') {
      auto end = rest.find('$', 1);
      if (end == std::string_view::npos) break;
      std::string_view esc = rest.substr(1, end - 1);
      const char* plain = nullptr;
      if (esc == "SP") plain = "@";
      else if (esc == "BP") plain = "*";
      else if (esc == "RF") plain = "&";
      else if (esc == "LT") plain = "<";
      else if (esc == "GT") plain = ">";
      else if (esc == "LP") plain = "(";
      else if (esc == "RP") plain = ")";
      else if (esc == "C") plain = ",";
      if (plain) {
        out += plain;
      } else {
        // $uXX$: a code point in lower-case hex, not a control character.
        if (esc.size() < 2 || esc.size() > 7 || esc[0] != 'u') break;
        std::uint32_t cp = 0;
        bool ok = true;
        for (char c : esc.substr(1)) {
          if (!is_digit(c) && !(c >= 'a' && c <= 'f')) ok = false;
          cp = cp * 16 + static_cast<std::uint32_t>(is_digit(c) ? c - '0' : c - 'a' + 10);
        }
        if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) break;
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (cp >> 18));
          out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
      }
      rest.remove_prefix(end + 1);
    } else {
      auto stop = rest.find_first_of("$.");
      if (stop == std::string_view::npos) break;
      out += rest.substr(0, stop);
      rest.remove_prefix(stop);
    }
  }
  out += rest;
}

std::optional<std::string> demangle_legacy(std::string_view s) {
  std::string_view inner;
  if (s.size() > 3 && s.starts_with("_ZN")) inner = s.substr(3);
  else if (s.size() > 2 && s.starts_with("ZN")) inner = s.substr(2);
  else if (s.size() > 4 && s.starts_with("__ZN")) inner = s.substr(4);
  else return std::nullopt;
  for (char c : inner)
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;

  std::vector<std::string_view> elements;
  std::size_t i = 0;
  while (true) {
    if (i >= inner.size()) return std::nullopt;
    if (inner[i] == 'E') break;
    if (!is_digit(inner[i])) return std::nullopt;
    std::size_t len = 0;
    while (i < inner.size() && is_digit(inner[i])) {
      std::size_t d = static_cast<std::size_t>(inner[i] - '0');
      if (len > (inner.size() - d) / 10) return std::nullopt;  // longer than the name itself
      len = len * 10 + d;
      ++i;
    }
    if (len > inner.size() - i) return std::nullopt;
    elements.push_back(inner.substr(i, len));
    i += len;
  }
  std::string_view suffix = inner.substr(i + 1);
  if (!suffix.empty() && !(suffix[0] == '.' && is_symbol_like(suffix))) return std::nullopt;

  std::string out;
  for (std::size_t e = 0; e < elements.size(); ++e) {
    if (e + 1 == elements.size() && e > 0 && is_rust_hash(elements[e])) break;
    if (e > 0) out += "::";
    append_legacy_element(out, elements[e]);
  }
  out += suffix;
  return out;
}

std::optional<std::string> demangle_v0(std::string_view s) {
  std::string name(s);
  int status = 0;
  char* text = llvm::rustDemangle(name.c_str(), nullptr, nullptr, &status);
  std::unique_ptr<char, decltype(&std::free)> owned(text, &std::free);
  if (status != llvm::demangle_success || !text) return std::nullopt;
  return std::string(text);
}

}  // namespace

std::optional<std::string> demangle_rust(std::string_view name) {
  std::string_view s = strip_llvm_suffix(name);
  if (auto legacy = demangle_legacy(s)) return legacy;
  if (s.starts_with("_R")) return demangle_v0(s);
  return std::nullopt;
}

}  // namespace brindle::exe
