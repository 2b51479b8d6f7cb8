// Rust symbol names: the legacy `_ZN…E` path scheme (length-prefixed
// identifiers with `$` escapes and `..`, also under the prefixes `ZN` and
// `__ZN`) decoded here without recursion, and the `_R` scheme through LLVM's
// demangler. Results are in the short form, without the trailing hash.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle::exe {

// The rendering, or nothing when `name` is not a Rust symbol name. A
// ".llvm." suffix of hexadecimal digits and '@' is removed first; after the
// closing `E` of a legacy name only a suffix starting with a dot may follow.
std::optional<std::string> demangle_rust(std::string_view name);

}  // namespace brindle::exe
