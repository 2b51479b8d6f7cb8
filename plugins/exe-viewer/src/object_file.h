// The parsed view of one executable or object file that the report is built
// from: the header facts and every list, fully materialised by a format
// reader (object_reader.h).
//
// Names are views into the file's bytes, which the caller owns and keeps
// alive as long as the ObjectFile is used; nothing here copies the file.
#pragma once

#include <cstdint>
#include <deque>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "bytes.h"

namespace brindle::exe {

enum class FileKind {
  coff,
  coff_big,
  elf32,
  elf64,
  macho32,
  macho64,
  pe32,
  pe64,
  xcoff32,
  xcoff64,
};

enum class SectionKind {
  text,
  data,
  read_only_data,
  read_only_data_with_rel,
  read_only_string,
  uninitialized_data,
  tls,
  uninitialized_tls,
  tls_variables,
  other_string,
  other,
  debug,
  debug_string,
  linker,
  note,
  metadata,
  unknown,
  unlisted_elf_type,  // an ELF section type none of the above describes
};

enum class SymbolKind { unknown, text, data, section, file, label, tls };

enum class SymbolSectionKind { unknown, none, undefined, absolute, common, section };

// A name that may not be readable; nullopt stands for "could not be read".
using MaybeName = std::optional<std::string_view>;

struct Section {
  MaybeName name;  // nullopt also when the name is not valid UTF-8
  std::uint64_t address = 0;
  std::uint64_t size = 0;
  SectionKind kind = SectionKind::unknown;
  // The section's bytes in the file (empty for sections that occupy none);
  // nullopt when they lie outside the file. Filled for ELF only.
  std::optional<Bytes> contents;
};

struct Symbol {
  MaybeName name;
  std::uint64_t address = 0;
  SymbolKind kind = SymbolKind::unknown;
  SymbolSectionKind section = SymbolSectionKind::unknown;
};

// An export or import name: raw bytes from the file, or an ordinal.
using EntryName = std::variant<std::string_view, std::uint16_t>;

namespace target {
struct Address {
  std::uint64_t address;
};
struct Absolute {
  std::uint64_t value;
};
struct ThreadLocal {
  std::uint64_t offset;
};
struct Resolver {
  std::uint64_t resolver;
  std::optional<std::uint64_t> stub;
};
struct Reexport {
  std::string_view library;  // raw bytes
  EntryName name;
};
}  // namespace target

using ExportTarget = std::variant<target::Address, target::Absolute, target::ThreadLocal, target::Resolver,
                                  target::Reexport>;

struct Export {
  EntryName name;
  ExportTarget target;
};

// One import of a portable-executable file.
struct PeImport {
  std::string_view library;  // raw bytes
  EntryName name;
};

struct ObjectFile {
  FileKind kind = FileKind::elf64;
  bool is_64 = false;
  bool big_endian = false;
  std::uint64_t entry = 0;
  std::uint32_t machine = 0;    // e_machine, cputype or COFF Machine
  std::uint32_t elf_flags = 0;  // e_flags, ELF only
  Bytes data;                   // the whole file

  std::vector<Section> sections;
  // Error text when the export information cannot be opened.
  std::expected<std::vector<Export>, std::string> exports;
  // Portable-executable files: the import tables, or their error text.
  std::expected<std::vector<PeImport>, std::string> pe_imports;
  // Every other kind: the undefined symbols of one symbol table.
  std::vector<Symbol> undefined_imports;
  std::vector<Symbol> symbols;  // already without section and file symbols
  // Texts that a reader had to build rather than borrow from the file (the
  // names decoded from a Mach-O exports trie); the views above may point
  // here. A deque never moves its elements.
  std::deque<std::string> owned_names;
};

inline bool is_pe(FileKind k) { return k == FileKind::pe32 || k == FileKind::pe64; }
inline bool is_elf(FileKind k) { return k == FileKind::elf32 || k == FileKind::elf64; }
inline bool is_macho(FileKind k) { return k == FileKind::macho32 || k == FileKind::macho64; }
inline bool is_coff(FileKind k) { return k == FileKind::coff || k == FileKind::coff_big; }
inline bool is_xcoff(FileKind k) { return k == FileKind::xcoff32 || k == FileKind::xcoff64; }

}  // namespace brindle::exe
