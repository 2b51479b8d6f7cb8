#include "macho_exports.h"

#include <algorithm>
#include <vector>

namespace brindle::exe {

namespace {

constexpr std::size_t MAX_ULEB_BYTES = 10;

// Reads an unsigned LEB128 number at `pos`, advancing it.
std::optional<std::uint64_t> uleb(Bytes b, std::size_t& pos) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < MAX_ULEB_BYTES; ++i) {
    if (pos >= b.size()) return std::nullopt;
    std::uint8_t byte = b[pos++];
    value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
    if (!(byte & 0x80)) return value;
  }
  return std::nullopt;
}

std::optional<std::string_view> c_string(Bytes b, std::size_t& pos) {
  auto s = ByteReader(b, false).c_string(pos);
  if (!s || pos + s->size() >= b.size()) return std::nullopt;  // needs its terminator
  pos += s->size() + 1;
  return as_chars(*s);
}

std::unexpected<std::string> malformed(const std::string& what) {
  return std::unexpected("malformed exports trie: " + what);
}

}  // namespace

std::expected<std::vector<TrieExport>, std::string> read_exports_trie(Bytes trie) {
  std::vector<TrieExport> out;
  if (trie.empty()) return out;
  std::vector<bool> visited(trie.size(), false);

  // Depth first with an explicit stack. `name` holds the path to the node
  // being visited: a popped node cuts it back to its parent's length and
  // appends its own edge label, which leaves the parent's prefix intact for
  // the siblings still on the stack.
  struct Pending {
    std::size_t offset;
    std::size_t parent_length;
    std::string_view label;
  };
  std::string name;
  std::uint64_t name_bytes = 0;
  std::vector<Pending> stack{{0, 0, {}}};
  while (!stack.empty()) {
    Pending node = stack.back();
    stack.pop_back();
    if (visited[node.offset]) return malformed("a node is reached twice");
    visited[node.offset] = true;
    name.resize(node.parent_length);
    name += node.label;

    std::size_t pos = node.offset;
    auto terminal_size = uleb(trie, pos);
    if (!terminal_size) return malformed("unreadable terminal size");
    std::size_t children_at = pos;
    if (*terminal_size > trie.size() - pos) return malformed("terminal information past the end");
    children_at += static_cast<std::size_t>(*terminal_size);
    if (*terminal_size != 0) {
      // Each terminal repeats its whole path: a deep hostile trie could
      // spell out far more name bytes than it holds.
      name_bytes += name.size();
      if (name_bytes > MAX_EXPORT_NAME_BYTES) return malformed("names longer than the report can hold");
      TrieExport e;
      e.name = name;
      auto flags = uleb(trie, pos);
      if (!flags) return malformed("unreadable flags");
      e.flags = *flags;
      if (e.flags & EXPORT_REEXPORT) {
        auto ordinal = uleb(trie, pos);
        auto imported = ordinal ? c_string(trie, pos) : std::nullopt;
        if (!imported) return malformed("unreadable re-export");
        e.other = *ordinal;
        if (!imported->empty()) e.imported = std::string(*imported);
      } else {
        auto address = uleb(trie, pos);
        if (!address) return malformed("unreadable address");
        e.address = *address;
        if (e.flags & EXPORT_STUB_AND_RESOLVER) {
          auto resolver = uleb(trie, pos);
          if (!resolver) return malformed("unreadable resolver");
          e.other = *resolver;
        }
      }
      if (pos > children_at) return malformed("terminal information longer than its size");
      out.push_back(std::move(e));
    }

    pos = children_at;
    if (pos >= trie.size()) return malformed("child count past the end");
    std::uint8_t child_count = trie[pos++];
    // Children are pushed in reverse so that they are visited in order.
    std::size_t first_child = stack.size();
    for (std::uint8_t i = 0; i < child_count; ++i) {
      auto label = c_string(trie, pos);
      if (!label) return malformed("unreadable edge label");
      auto child = uleb(trie, pos);
      if (!child) return malformed("unreadable child offset");
      if (*child >= trie.size()) return malformed("child offset past the end");
      stack.push_back({static_cast<std::size_t>(*child), name.size(), *label});
    }
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first_child), stack.end());
  }
  return out;
}

}  // namespace brindle::exe
