// ELF reader: both classes and byte orders, through LLVM's raw ELF view.
// Fills every list of the ObjectFile from the section headers, the static
// symbol table (SHT_SYMTAB) and the dynamic symbol table (SHT_DYNSYM).
#pragma once

#include <expected>
#include <string>

#include "object_file.h"

namespace brindle::exe {

// `data` must outlive the result. `kind` is elf32 or elf64.
std::expected<ObjectFile, std::string> read_elf(Bytes data, FileKind kind);

}  // namespace brindle::exe
