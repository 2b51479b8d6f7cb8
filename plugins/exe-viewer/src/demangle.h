// Symbol-name demangling for the report: the Rust schemes first
// (rust_demangle.h), then the Itanium C++ ABI (cxx_demangle.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cxx_demangle.h"
#include "rust_demangle.h"

namespace brindle::exe {

// The demangled form of `name`, or nothing when no demangler changes it.
std::optional<std::string> demangle_symbol(std::string_view name);

}  // namespace brindle::exe
