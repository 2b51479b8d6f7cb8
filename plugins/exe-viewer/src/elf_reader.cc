#include "elf_reader.h"

#include <llvm/Object/ELF.h>

#include "bytes.h"
#include "text.h"

namespace brindle::exe {

namespace {

namespace elf = llvm::ELF;

constexpr std::uint32_t SHT_CREL = 0x40000014;

std::string take_error(llvm::Error e) { return llvm::toString(std::move(e)); }

SectionKind elf_section_kind(std::uint32_t type, std::uint64_t flags) {
  switch (type) {
    case elf::SHT_PROGBITS:
      if (flags & elf::SHF_ALLOC) {
        if (flags & elf::SHF_EXECINSTR) return SectionKind::text;
        if (flags & elf::SHF_TLS) return SectionKind::tls;
        if (flags & elf::SHF_WRITE) return SectionKind::data;
        if (flags & elf::SHF_STRINGS) return SectionKind::read_only_string;
        return SectionKind::read_only_data;
      }
      return (flags & elf::SHF_STRINGS) ? SectionKind::other_string : SectionKind::other;
    case elf::SHT_NOBITS:
      return (flags & elf::SHF_TLS) ? SectionKind::uninitialized_tls : SectionKind::uninitialized_data;
    case elf::SHT_NOTE:
      return SectionKind::note;
    case elf::SHT_NULL:
    case elf::SHT_SYMTAB:
    case elf::SHT_STRTAB:
    case elf::SHT_RELA:
    case elf::SHT_HASH:
    case elf::SHT_DYNAMIC:
    case elf::SHT_REL:
    case elf::SHT_DYNSYM:
    case elf::SHT_GROUP:
    case elf::SHT_SYMTAB_SHNDX:
    case elf::SHT_RELR:
    case SHT_CREL:
      return SectionKind::metadata;
    default:
      return SectionKind::unlisted_elf_type;
  }
}

SymbolKind elf_symbol_kind(unsigned type) {
  switch (type) {
    case elf::STT_FUNC:
    case elf::STT_GNU_IFUNC:
      return SymbolKind::text;
    case elf::STT_OBJECT:
    case elf::STT_COMMON:
      return SymbolKind::data;
    case elf::STT_TLS:
      return SymbolKind::tls;
    case elf::STT_SECTION:
      return SymbolKind::section;
    case elf::STT_FILE:
      return SymbolKind::file;
    default:
      return SymbolKind::unknown;
  }
}

SymbolSectionKind elf_symbol_section(unsigned shndx) {
  if (shndx == elf::SHN_UNDEF) return SymbolSectionKind::undefined;
  if (shndx == elf::SHN_ABS) return SymbolSectionKind::absolute;
  if (shndx == elf::SHN_COMMON) return SymbolSectionKind::common;
  if (shndx < elf::SHN_LORESERVE || shndx == elf::SHN_XINDEX) return SymbolSectionKind::section;
  return SymbolSectionKind::unknown;
}

MaybeName utf8_name(llvm::Expected<llvm::StringRef> name) {
  if (!name) {
    llvm::consumeError(name.takeError());
    return std::nullopt;
  }
  std::string_view s(name->data(), name->size());
  if (!is_valid_utf8(s)) return std::nullopt;
  return s;
}

template <class ELFT>
class ElfReader {
 public:
  using File = llvm::object::ELFFile<ELFT>;
  using Shdr = typename ELFT::Shdr;
  using Sym = typename ELFT::Sym;

  explicit ElfReader(const File& file) : file_(file) {}

  std::expected<ObjectFile, std::string> read(Bytes data, FileKind kind) {
    const auto& h = file_.getHeader();
    ObjectFile out;
    out.kind = kind;
    out.is_64 = ELFT::Is64Bits;
    out.big_endian = h.e_ident[elf::EI_DATA] == elf::ELFDATA2MSB;
    out.entry = h.e_entry;
    out.machine = h.e_machine;
    out.elf_flags = h.e_flags;
    out.data = data;

    auto sections = file_.sections();
    if (!sections) return std::unexpected(take_error(sections.takeError()));

    // Section names are best effort: an unreadable string table only turns
    // the names into "<?>".
    llvm::StringRef shstrtab;
    if (auto t = file_.getSectionStringTable(*sections)) {
      shstrtab = *t;
    } else {
      llvm::consumeError(t.takeError());
    }

    const Shdr* symtab = nullptr;
    const Shdr* dynsym = nullptr;
    bool first = true;
    for (const Shdr& s : *sections) {
      if (std::exchange(first, false)) continue;  // the null section
      Section sec;
      sec.name = shstrtab.empty() ? std::nullopt : utf8_name(file_.getSectionName(s, shstrtab));
      sec.address = s.sh_addr;
      sec.size = s.sh_size;
      sec.kind = elf_section_kind(s.sh_type, s.sh_flags);
      if (s.sh_type == elf::SHT_NOBITS) {
        sec.contents = Bytes{};
      } else {
        sec.contents = ByteReader(data, false).slice(s.sh_offset, s.sh_size);
      }
      out.sections.push_back(sec);
      if (s.sh_type == elf::SHT_SYMTAB && !symtab) symtab = &s;
      if (s.sh_type == elf::SHT_DYNSYM && !dynsym) dynsym = &s;
    }

    if (symtab) {
      auto table = symbol_table(*symtab, *sections);
      if (!table) return std::unexpected(table.error());
      out.symbols.reserve(table->symbols.size());
      for (std::size_t i = 1; i < table->symbols.size(); ++i) {
        const Sym& sym = table->symbols[i];
        SymbolKind k = elf_symbol_kind(sym.getType());
        if (k == SymbolKind::section || k == SymbolKind::file) continue;
        out.symbols.push_back(to_symbol(sym, table->strings));
      }
    }

    out.exports = std::vector<Export>{};
    if (dynsym) {
      auto table = symbol_table(*dynsym, *sections);
      if (!table) return std::unexpected(table.error());
      for (std::size_t i = 1; i < table->symbols.size(); ++i) {
        const Sym& sym = table->symbols[i];
        if (sym.st_shndx == elf::SHN_UNDEF) out.undefined_imports.push_back(to_symbol(sym, table->strings));
      }
      out.exports = exports(*table);
    }
    return out;
  }

 private:
  struct SymbolTable {
    llvm::ArrayRef<Sym> symbols;
    llvm::StringRef strings;
  };

  std::expected<SymbolTable, std::string> symbol_table(const Shdr& sec, typename File::Elf_Shdr_Range sections) {
    auto syms = file_.symbols(&sec);
    if (!syms) return std::unexpected(take_error(syms.takeError()));
    auto strings = file_.getStringTableForSymtab(sec, sections);
    if (!strings) return std::unexpected(take_error(strings.takeError()));
    return SymbolTable{*syms, *strings};
  }

  static Symbol to_symbol(const Sym& sym, llvm::StringRef strings) {
    Symbol s;
    s.name = utf8_name(sym.getName(strings));
    s.kind = elf_symbol_kind(sym.getType());
    s.section = elf_symbol_section(sym.st_shndx);
    // For common symbols st_value holds the alignment, not an address.
    s.address = sym.st_shndx == elf::SHN_COMMON ? 0 : std::uint64_t{sym.st_value};
    return s;
  }

  static std::expected<std::vector<Export>, std::string> exports(const SymbolTable& table) {
    std::vector<Export> list;
    list.reserve(table.symbols.size());
    for (std::size_t i = 1; i < table.symbols.size(); ++i) {
      const Sym& sym = table.symbols[i];
      if (sym.getBinding() == elf::STB_LOCAL) continue;
      unsigned shndx = sym.st_shndx;
      bool absolute = shndx == elf::SHN_ABS;
      bool in_section = shndx != elf::SHN_UNDEF && (shndx < elf::SHN_LORESERVE || shndx == elf::SHN_XINDEX);
      if (!absolute && !in_section) continue;
      ExportTarget target;
      switch (sym.getType()) {
        case elf::STT_NOTYPE:
        case elf::STT_OBJECT:
        case elf::STT_FUNC:
          target = absolute ? ExportTarget{target::Absolute{sym.st_value}} : ExportTarget{target::Address{sym.st_value}};
          break;
        case elf::STT_TLS:
          target = target::ThreadLocal{sym.st_value};
          break;
        case elf::STT_GNU_IFUNC:
          target = target::Resolver{sym.st_value, std::nullopt};
          break;
        default:
          continue;
      }
      auto name = sym.getName(table.strings);
      if (!name) return std::unexpected(take_error(name.takeError()));
      list.push_back({std::string_view(name->data(), name->size()), target});
    }
    return list;
  }

  const File& file_;
};

template <class ELFT>
std::expected<ObjectFile, std::string> read_as(Bytes data, FileKind kind) {
  auto file = llvm::object::ELFFile<ELFT>::create(llvm::StringRef(as_chars(data)));
  if (!file) return std::unexpected(take_error(file.takeError()));
  return ElfReader<ELFT>(*file).read(data, kind);
}

}  // namespace

std::expected<ObjectFile, std::string> read_elf(Bytes data, FileKind kind) {
  bool big = data.size() > elf::EI_DATA && data[elf::EI_DATA] == elf::ELFDATA2MSB;
  if (data.size() > elf::EI_DATA && data[elf::EI_DATA] != elf::ELFDATA2LSB && !big)
    return std::unexpected("invalid ELF data encoding");
  if (kind == FileKind::elf64)
    return big ? read_as<llvm::object::ELF64BE>(data, kind) : read_as<llvm::object::ELF64LE>(data, kind);
  return big ? read_as<llvm::object::ELF32BE>(data, kind) : read_as<llvm::object::ELF32LE>(data, kind);
}

}  // namespace brindle::exe
