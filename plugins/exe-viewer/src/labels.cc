#include "labels.h"

#include "text.h"

namespace brindle::exe {

namespace {

constexpr std::string_view ARCH_AARCH64 = "AArch64 (ARM64)";
constexpr std::string_view ARCH_ARM = "ARM (32-bit)";
constexpr std::string_view ARCH_X86 = "x86 (32-bit)";
constexpr std::string_view ARCH_X86_64 = "x86-64";
constexpr std::string_view ARCH_LOONGARCH64 = "LoongArch64";
constexpr std::string_view ARCH_MIPS = "MIPS";
constexpr std::string_view ARCH_POWERPC = "PowerPC";
constexpr std::string_view ARCH_RISCV = "RISC-V";
constexpr std::string_view ARCH_S390X = "s390x";
constexpr std::string_view ARCH_UNKNOWN = "unknown";

constexpr std::uint32_t EF_MIPS_ABI2 = 0x20;  // the N32 ABI

std::string_view elf_arch(const ObjectFile& f) {
  switch (f.machine) {
    case 3: return ARCH_X86;
    case 62: return ARCH_X86_64;
    case 40: return ARCH_ARM;
    case 20:
    case 21: return ARCH_POWERPC;
    case 243: return ARCH_RISCV;
  }
  if (f.is_64) {
    switch (f.machine) {
      case 183: return ARCH_AARCH64;
      case 258: return ARCH_LOONGARCH64;
      case 22: return ARCH_S390X;
      case 8: return ARCH_MIPS;
    }
    return ARCH_UNKNOWN;
  }
  if (f.machine == 8 && !(f.elf_flags & EF_MIPS_ABI2)) return ARCH_MIPS;
  return ARCH_UNKNOWN;
}

std::string_view macho_arch(std::uint32_t cputype) {
  switch (cputype) {
    case 7: return ARCH_X86;
    case 0x01000007: return ARCH_X86_64;
    case 12: return ARCH_ARM;
    case 0x0100000C: return ARCH_AARCH64;
    case 8: return ARCH_MIPS;
    case 18:
    case 0x01000012: return ARCH_POWERPC;
  }
  return ARCH_UNKNOWN;
}

std::string_view coff_arch(std::uint32_t machine, bool image) {
  switch (machine) {
    case 0x014C: return ARCH_X86;
    case 0x8664: return ARCH_X86_64;
    case 0x01C4: return ARCH_ARM;
    case 0xAA64:
    case 0xA641: return ARCH_AARCH64;
    case 0x01F0:
    case 0x01F1:
    case 0x01F2: return image ? ARCH_UNKNOWN : ARCH_POWERPC;
  }
  return ARCH_UNKNOWN;
}

}  // namespace

std::string_view architecture_label(const ObjectFile& file) {
  switch (file.kind) {
    case FileKind::elf32:
    case FileKind::elf64: return elf_arch(file);
    case FileKind::macho32:
    case FileKind::macho64: return macho_arch(file.machine);
    case FileKind::coff:
    case FileKind::coff_big: return coff_arch(file.machine, false);
    case FileKind::pe32:
    case FileKind::pe64: return coff_arch(file.machine, true);
    case FileKind::xcoff32:
    case FileKind::xcoff64: return ARCH_POWERPC;
  }
  return ARCH_UNKNOWN;
}

std::string_view section_kind_label(SectionKind kind) {
  switch (kind) {
    case SectionKind::text: return "code";
    case SectionKind::data: return "data";
    case SectionKind::read_only_data:
    case SectionKind::read_only_data_with_rel: return "ro-data";
    case SectionKind::read_only_string:
    case SectionKind::other_string: return "strings";
    case SectionKind::uninitialized_data: return "bss";
    case SectionKind::tls:
    case SectionKind::uninitialized_tls:
    case SectionKind::tls_variables: return "tls";
    case SectionKind::debug: return "debug";
    case SectionKind::debug_string: return "debug-str";
    case SectionKind::linker: return "linker";
    case SectionKind::note: return "note";
    case SectionKind::metadata: return "metadata";
    case SectionKind::other:
    case SectionKind::unknown:
    case SectionKind::unlisted_elf_type: return "other";
  }
  return "other";
}

char symbol_type_letter(const Symbol& symbol) {
  if (symbol.section == SymbolSectionKind::undefined) return 'U';
  if (symbol.kind == SymbolKind::text) return 'T';
  if (symbol.kind == SymbolKind::data) return 'D';
  if (symbol.kind == SymbolKind::tls) return 'T';
  if (symbol.section == SymbolSectionKind::common) return 'C';
  if (symbol.section == SymbolSectionKind::absolute) return 'A';
  return '?';
}

std::string display_entry_name(const EntryName& name) {
  if (const auto* ordinal = std::get_if<std::uint16_t>(&name)) return "#" + std::to_string(*ordinal);
  return utf8_lossy(std::get<std::string_view>(name));
}

std::string export_address_text(const ExportTarget& t) {
  struct Visitor {
    std::string operator()(const target::Address& a) const { return hex18(a.address); }
    std::string operator()(const target::Absolute& a) const { return "abs " + hex(a.value); }
    std::string operator()(const target::ThreadLocal& a) const { return "tls+" + hex(a.offset); }
    std::string operator()(const target::Resolver& a) const {
      return a.stub ? hex18(*a.stub) : "resolver " + hex(a.resolver);
    }
    std::string operator()(const target::Reexport& a) const {
      return "reexport [" + utf8_lossy(a.library) + "] " + display_entry_name(a.name);
    }
  };
  return std::visit(Visitor{}, t);
}

}  // namespace brindle::exe
