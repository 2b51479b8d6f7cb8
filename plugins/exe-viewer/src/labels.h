// The short texts the report derives from parsed values: architecture,
// section kind, symbol type letter, export address column, entry names.
#pragma once

#include <string>
#include <string_view>

#include "object_file.h"

namespace brindle::exe {

// By file kind and header machine field; "unknown" for anything unlisted.
std::string_view architecture_label(const ObjectFile& file);

std::string_view section_kind_label(SectionKind kind);

// "U", "T", "D", "C", "A" or "?" by the first rule that applies.
char symbol_type_letter(const Symbol& symbol);

std::string export_address_text(const ExportTarget& target);

// Bytes become UTF-8 with U+FFFD for invalid sequences; ordinals become "#N".
std::string display_entry_name(const EntryName& name);

}  // namespace brindle::exe
