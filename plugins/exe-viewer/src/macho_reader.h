// Mach-O reader: thin 32- and 64-bit files in either byte order, through
// LLVM's Mach-O view (load commands, sections, symbol table, exports trie).
#pragma once

#include <expected>
#include <string>

#include "object_file.h"

namespace brindle::exe {

// `data` must outlive the result. `kind` is macho32 or macho64.
std::expected<ObjectFile, std::string> read_macho(Bytes data, FileKind kind);

}  // namespace brindle::exe
