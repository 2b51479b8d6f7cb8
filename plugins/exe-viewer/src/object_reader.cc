#include "object_reader.h"

#include "coff_reader.h"
#include "elf_reader.h"
#include "file_kind.h"
#include "macho_reader.h"
#include "xcoff_reader.h"

namespace brindle::exe {

std::expected<ObjectFile, std::string> read_object(Bytes data) {
  auto kind = detect_file_kind(data);
  if (!kind) return std::unexpected(kind.error());
  switch (*kind) {
    case FileKind::elf32:
    case FileKind::elf64:
      return read_elf(data, *kind);
    case FileKind::coff:
    case FileKind::coff_big:
    case FileKind::pe32:
    case FileKind::pe64:
      return read_coff(data, *kind);
    case FileKind::macho32:
    case FileKind::macho64:
      return read_macho(data, *kind);
    case FileKind::xcoff32:
    case FileKind::xcoff64:
      return read_xcoff(data, *kind);
  }
  return std::unexpected(std::string(ERR_UNSUPPORTED));
}

}  // namespace brindle::exe
