// The libraries a file depends on, read from the file itself: DT_NEEDED
// entries for ELF, dylib load commands for Mach-O, the set of imported DLL
// names for PE. Never fails: what cannot be read is left out.
#pragma once

#include <string>
#include <vector>

#include "object_file.h"

namespace brindle::exe {

std::vector<std::string> collect_dependencies(const ObjectFile& file);

}  // namespace brindle::exe
