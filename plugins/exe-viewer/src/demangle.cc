#include "demangle.h"

#include "cxx_demangle.h"
#include "rust_demangle.h"

namespace brindle::exe {

std::optional<std::string> demangle_symbol(std::string_view name) {
  if (auto rust = demangle_rust(name); rust && *rust != name) return rust;
  auto cxx = demangle_cxx(name);
  if (!cxx || *cxx == name) return std::nullopt;
  return cxx;
}

}  // namespace brindle::exe
