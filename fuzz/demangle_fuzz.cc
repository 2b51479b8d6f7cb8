// Symbol demangling on hostile names: deep nesting and long inputs must
// neither crash nor run away.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "demangle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)brindle::exe::demangle_symbol(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
