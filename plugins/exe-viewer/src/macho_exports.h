// The Mach-O exports trie: a prefix tree of exported names whose terminal
// nodes carry flags and an address, a re-export or a stub and resolver.
//
// The walk is iterative and visits every node at most once, so a trie whose
// child offsets loop back, or that is cut short, ends in an error text
// instead of a hang or a read outside the trie.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"

namespace brindle::exe {

inline constexpr std::uint64_t EXPORT_KIND_MASK = 0x03;
inline constexpr std::uint64_t EXPORT_KIND_THREAD_LOCAL = 0x01;
inline constexpr std::uint64_t EXPORT_KIND_ABSOLUTE = 0x02;
inline constexpr std::uint64_t EXPORT_REEXPORT = 0x08;
inline constexpr std::uint64_t EXPORT_STUB_AND_RESOLVER = 0x10;
// Total bytes of exported names a trie may spell out.
inline constexpr std::uint64_t MAX_EXPORT_NAME_BYTES = 256ull << 20;

struct TrieExport {
  std::string name;
  std::uint64_t flags = 0;
  std::uint64_t address = 0;           // or the stub address
  std::uint64_t other = 0;             // library ordinal of a re-export, or the resolver
  std::optional<std::string> imported;  // re-exports: the name in that library, when it differs
};

// Terminal nodes in depth-first order, a node before its children and
// children in the order they are stored.
std::expected<std::vector<TrieExport>, std::string> read_exports_trie(Bytes trie);

}  // namespace brindle::exe
