#include <gtest/gtest.h>

#include "labels.h"

namespace brindle::exe {
namespace {

TEST(ArchitectureLabel, ByKindAndMachine) {
  struct Case {
    FileKind kind;
    std::uint32_t machine;
    std::uint32_t flags;
    const char* label;
  } cases[] = {
      {FileKind::elf64, 62, 0, "x86-64"},          {FileKind::elf32, 3, 0, "x86 (32-bit)"},
      {FileKind::elf32, 40, 0, "ARM (32-bit)"},    {FileKind::elf64, 183, 0, "AArch64 (ARM64)"},
      {FileKind::elf32, 183, 0, "unknown"},        {FileKind::elf64, 258, 0, "LoongArch64"},
      {FileKind::elf32, 258, 0, "unknown"},        {FileKind::elf64, 22, 0, "s390x"},
      {FileKind::elf32, 22, 0, "unknown"},         {FileKind::elf32, 8, 0, "MIPS"},
      {FileKind::elf32, 8, 0x20, "unknown"},       {FileKind::elf64, 8, 0x20, "MIPS"},
      {FileKind::elf64, 21, 0, "PowerPC"},         {FileKind::elf32, 20, 0, "PowerPC"},
      {FileKind::elf64, 243, 0, "RISC-V"},         {FileKind::elf64, 999, 0, "unknown"},
      {FileKind::macho64, 0x01000007, 0, "x86-64"}, {FileKind::macho64, 0x0100000C, 0, "AArch64 (ARM64)"},
      {FileKind::macho32, 18, 0, "PowerPC"},       {FileKind::macho32, 7, 0, "x86 (32-bit)"},
      {FileKind::pe32, 0x014C, 0, "x86 (32-bit)"}, {FileKind::pe64, 0xAA64, 0, "AArch64 (ARM64)"},
      {FileKind::pe32, 0x01F2, 0, "unknown"},      {FileKind::coff, 0x01F2, 0, "PowerPC"},
      {FileKind::coff_big, 0xA641, 0, "AArch64 (ARM64)"}, {FileKind::xcoff64, 0x01F7, 0, "PowerPC"},
  };
  for (const auto& c : cases) {
    ObjectFile f;
    f.kind = c.kind;
    f.is_64 = c.kind == FileKind::elf64 || c.kind == FileKind::macho64 || c.kind == FileKind::pe64;
    f.machine = c.machine;
    f.elf_flags = c.flags;
    EXPECT_EQ(architecture_label(f), c.label) << static_cast<int>(c.kind) << " " << c.machine;
  }
}

TEST(SymbolTypeLetter, FirstMatchingRuleWins) {
  using K = SymbolKind;
  using S = SymbolSectionKind;
  struct Case {
    K kind;
    S section;
    char letter;
  } cases[] = {
      {K::text, S::undefined, 'U'}, {K::text, S::section, 'T'},   {K::data, S::common, 'D'},
      {K::tls, S::section, 'T'},    {K::unknown, S::common, 'C'}, {K::unknown, S::absolute, 'A'},
      {K::label, S::section, '?'},  {K::unknown, S::none, '?'},
  };
  for (const auto& c : cases) EXPECT_EQ(symbol_type_letter({std::nullopt, 0, c.kind, c.section}), c.letter);
}

TEST(SectionKindLabel, EveryCategory) {
  using K = SectionKind;
  std::pair<K, const char*> cases[] = {
      {K::text, "code"},       {K::data, "data"},           {K::read_only_data, "ro-data"},
      {K::read_only_data_with_rel, "ro-data"}, {K::read_only_string, "strings"}, {K::other_string, "strings"},
      {K::uninitialized_data, "bss"}, {K::tls, "tls"},      {K::uninitialized_tls, "tls"},
      {K::tls_variables, "tls"}, {K::debug, "debug"},       {K::debug_string, "debug-str"},
      {K::linker, "linker"},   {K::note, "note"},           {K::metadata, "metadata"},
      {K::other, "other"},     {K::unknown, "other"},       {K::unlisted_elf_type, "other"},
  };
  for (const auto& [kind, label] : cases) EXPECT_EQ(section_kind_label(kind), label);
}

TEST(ExportAddressText, EveryTarget) {
  EXPECT_EQ(export_address_text(target::Address{0x1234}), "0x0000000000001234");
  EXPECT_EQ(export_address_text(target::Absolute{0xff}), "abs 0xff");
  EXPECT_EQ(export_address_text(target::ThreadLocal{0}), "tls+0x0");
  EXPECT_EQ(export_address_text(target::Resolver{0x10fe, std::nullopt}), "resolver 0x10fe");
  EXPECT_EQ(export_address_text(target::Resolver{0x10fe, 0x2000}), "0x0000000000002000");
  EXPECT_EQ(export_address_text(target::Reexport{"twin", std::uint16_t{7}}), "reexport [twin] #7");
  EXPECT_EQ(export_address_text(target::Reexport{"lib\xFF", std::string_view("f")}), "reexport [lib\xEF\xBF\xBD] f");
  EXPECT_EQ(display_entry_name(std::uint16_t{7}), "#7");
  EXPECT_EQ(display_entry_name(std::string_view("a\x80z")), "a\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace brindle::exe
