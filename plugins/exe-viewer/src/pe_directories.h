// The import, delay-import and export directories of a PE image.
//
// Imports come descriptor by descriptor and entry by entry, regular table
// first; an entry that cannot be decoded is skipped. Exports list every
// named entry in name-table order, then every non-zero address-table entry
// without a name by its ordinal; forwarders become re-exports.
#pragma once

#include <expected>
#include <string>
#include <vector>

#include "object_file.h"
#include "pe_image.h"

namespace brindle::exe {

struct DataDirectory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

std::expected<std::vector<PeImport>, std::string> read_pe_imports(const PeImage& image, bool pe64,
                                                                  DataDirectory imports, DataDirectory delay_imports);

std::expected<std::vector<Export>, std::string> read_pe_exports(const PeImage& image, DataDirectory exports);

}  // namespace brindle::exe
