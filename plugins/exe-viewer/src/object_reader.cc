#include "object_reader.h"

#include "elf_reader.h"
#include "file_kind.h"

namespace brindle::exe {

std::expected<ObjectFile, std::string> read_object(Bytes data) {
  auto kind = detect_file_kind(data);
  if (!kind) return std::unexpected(kind.error());
  switch (*kind) {
    case FileKind::elf32:
    case FileKind::elf64:
      return read_elf(data, *kind);
    default:
      return std::unexpected(std::string("Unsupported file format"));
  }
}

}  // namespace brindle::exe
