// XCOFF reader: the 32- and 64-bit forms of AIX object files, always
// big-endian. Reads the file header, the auxiliary header's entry, the
// section headers and the symbol table with its string table.
#pragma once

#include <expected>
#include <string>

#include "object_file.h"

namespace brindle::exe {

// `data` must outlive the result. `kind` is xcoff32 or xcoff64.
std::expected<ObjectFile, std::string> read_xcoff(Bytes data, FileKind kind);

}  // namespace brindle::exe
