// COFF-family reader: COFF objects, big-object COFF objects and PE32/PE32+
// images. Sections and the COFF symbol table are read for all four kinds;
// images also get their import, delay-import and export directories
// (pe_directories.h).
#pragma once

#include <expected>
#include <string>

#include "object_file.h"

namespace brindle::exe {

// `data` must outlive the result. `kind` is coff, coff_big, pe32 or pe64.
std::expected<ObjectFile, std::string> read_coff(Bytes data, FileKind kind);

}  // namespace brindle::exe
