// Itanium C++ ABI names (`_Z`, and `__Z` as on Mach-O) through LLVM's
// parser, with two bounds that keep hostile names harmless: a nesting depth
// for the recursive parser, and a limit on how much a name may print, since
// back-references let a few hundred bytes spell out terabytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindle::exe {

// Nesting limit of the parser, counted over its recursive productions.
inline constexpr unsigned CXX_DEMANGLE_MAX_DEPTH = 256;
// Largest number of name parts a rendering may print.
inline constexpr std::uint64_t CXX_DEMANGLE_MAX_PRINTED_NODES = 1 << 18;

// The rendering, or nothing when the name does not parse or breaks a bound.
std::optional<std::string> demangle_cxx(std::string_view name);

}  // namespace brindle::exe
