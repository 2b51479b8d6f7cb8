// Symbol-name demangling for the report: the Rust path schemes (legacy
// `_ZN…E` and `_R`) first, then the Itanium C++ ABI.
//
// Hostile names are safe: the legacy scheme is decoded without recursion,
// the C++ parser stops at a fixed nesting depth, and a C++ name whose
// back-references would print an exponentially long text is refused, so
// neither deep nesting nor megabyte-long names exhaust the stack or memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindle::exe {

// Nesting limit of the C++ parser, counted over its recursive productions.
inline constexpr unsigned CXX_DEMANGLE_MAX_DEPTH = 256;
// Largest number of name parts a C++ rendering may print.
inline constexpr std::uint64_t CXX_DEMANGLE_MAX_PRINTED_NODES = 1 << 18;

// The demangled form of `name`, or nothing when no demangler changes it.
std::optional<std::string> demangle_symbol(std::string_view name);

// The Rust legacy or v0 rendering in its short form (no trailing hash), or
// nothing when `name` is not a Rust symbol name.
std::optional<std::string> demangle_rust(std::string_view name);

// The Itanium C++ rendering, or nothing when the name does not parse.
std::optional<std::string> demangle_cxx(std::string_view name);

}  // namespace brindle::exe
