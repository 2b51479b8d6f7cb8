// The libraries a file depends on, read from the file itself: DT_NEEDED
// entries for ELF, dylib load commands for Mach-O, the set of imported DLL
// names for PE. Never fails: what cannot be read is left out.
#pragma once

#include <string>
#include <vector>

#include "object_file.h"

namespace brindle::exe {

// Total bytes of dependency names collected. Real files name a few hundred
// bytes; a hostile one can point thousands of entries at one long string,
// and the list stops growing once its names reach this size.
inline constexpr std::size_t MAX_DEPENDENCY_NAME_BYTES = 16u << 20;

std::vector<std::string> collect_dependencies(const ObjectFile& file);

}  // namespace brindle::exe
