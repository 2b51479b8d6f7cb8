// Exact texts of the report, built from hand-made parsed files so every
// block, width and fallback text is pinned down independently of a reader.
#include <gtest/gtest.h>

#include <vector>

#include "dependencies.h"
#include "report.h"

namespace brindle::exe {
namespace {

std::string report_of(std::string_view bytes) {
  return build_report(Bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(BuildReport, UnparsableFilesGiveOneLine) {
  struct Case {
    std::string bytes;
    const char* error;
  } cases[] = {
      {"", "Could not read file magic"},
      {std::string(15, '\x7f'), "Could not read file magic"},
      {"This is a plain text file, not a program.\n", "Unknown file magic"},
      {std::string("\xCA\xFE\xBA\xBE\0\0\0\x02", 8) + std::string(24, '\0'), "Unsupported file format"},
      {"!<arch>\nmember/         0           0     0     644     0         `\n", "Unsupported file format"},
      {"MZ" + std::string(80, '\0'), "Unknown MS-DOS file"},
      {std::string("\0\0\xFF\xFF\x02\0\x64\x86", 8) + std::string(60, '\0'), "Unknown anon object file"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(report_of(c.bytes), std::string("Failed to parse executable: ") + c.error + "\n") << c.error;
}

class SyntheticReport : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes.assign(999, 0);
    file.kind = FileKind::elf64;
    file.is_64 = true;
    file.machine = 62;
    file.entry = 0x401000;
    file.data = Bytes(bytes);
    file.exports = std::vector<Export>{};
    file.pe_imports = std::vector<PeImport>{};
  }
  std::vector<std::uint8_t> bytes;
  ObjectFile file;
};

TEST_F(SyntheticReport, EmptyListsAndHeader) {
  EXPECT_EQ(build_report(file),
            "== Executable info ==\n"
            "  Format:     ELF 64-bit, little-endian\n"
            "  Arch:       x86-64\n"
            "  Entry:      0x0000000000401000\n"
            "  File size:  999 bytes\n"
            "\n"
            "== Dependencies (0) ==\n"
            "  (none)\n"
            "\n"
            "== Sections (0) ==\n"
            "  Name                       Address              Size             Kind\n"
            "\n"
            "== Exports (0) ==\n"
            "  (none)\n"
            "\n"
            "== Imports (0) ==\n"
            "  (none)\n"
            "\n"
            "== Symbols (0) ==\n"
            "  (none \xE2\x80\x94 binary may be stripped)\n"
            "\n");
}

TEST_F(SyntheticReport, SizeOfAThousandBytesIsGrouped) {
  bytes.assign(1000, 0);
  file.data = Bytes(bytes);
  EXPECT_NE(build_report(file).find("  File size:  1,000 bytes\n"), std::string::npos);
}

TEST_F(SyntheticReport, RowsColumnsAndDemangledLines) {
  file.sections = {
      {".text", 0x1000, 42, SectionKind::text, std::nullopt},
      {".a_section_name_longer_than_26", 0x2000, 7, SectionKind::data, std::nullopt},
      {std::nullopt, 0, 0, SectionKind::unlisted_elf_type, std::nullopt},
  };
  file.exports = std::vector<Export>{
      {std::string_view("_ZN3foo3barEv"), target::Address{0x1010}},
      {std::string_view("printf"), target::Resolver{0x1020, std::nullopt}},
      {std::string_view("ver"), target::Reexport{"libother.dylib", std::string_view("_ZN3foo3barEv")}},
  };
  file.undefined_imports = {{std::string_view("_ZN3foo3barEv"), 0, SymbolKind::unknown, SymbolSectionKind::undefined},
                            {std::nullopt, 0, SymbolKind::unknown, SymbolSectionKind::undefined}};
  file.symbols = {{std::string_view("_ZN3foo3barEv"), 0x1010, SymbolKind::text, SymbolSectionKind::section},
                  {std::nullopt, 0, SymbolKind::data, SymbolSectionKind::common}};
  std::string r = build_report(file);
  EXPECT_NE(r.find("== Sections (3) ==\n"
                   "  Name                       Address              Size             Kind\n"
                   "  .text                      0x0000000000001000   42               code\n"
                   "  .a_section_name_longer_than_26 0x0000000000002000   7                data\n"
                   "  <?>                        0x0000000000000000   0                other\n"
                   "\n"),
            std::string::npos)
      << r;
  EXPECT_NE(r.find("== Exports (3) ==\n"
                   "  0x0000000000001010  _ZN3foo3barEv\n"
                   "                      foo::bar()\n"
                   "     resolver 0x1020  printf\n"
                   "  reexport [libother.dylib] _ZN3foo3barEv  ver\n"
                   "\n"),
            std::string::npos)
      << r;
  EXPECT_NE(r.find("== Imports (2) ==\n"
                   "  _ZN3foo3barEv\n"
                   "  foo::bar()\n"
                   "  <invalid>\n"
                   "\n"),
            std::string::npos)
      << r;
  EXPECT_NE(r.find("== Symbols (2) ==\n"
                   "  T  0x0000000000001010  _ZN3foo3barEv\n"
                   "                         foo::bar()\n"
                   "  D  0x0000000000000000  <invalid>\n"
                   "\n"),
            std::string::npos)
      << r;
  EXPECT_TRUE(r.ends_with("\n\n"));
}

TEST_F(SyntheticReport, PortableExecutableImportsAndFailedDirectories) {
  file.kind = FileKind::pe64;
  file.pe_imports = std::vector<PeImport>{
      {"KERNEL32.dll", std::string_view("Sleep")},
      {"ADVAPI32.dll", std::uint16_t{7}},
      {"cxx.dll", std::string_view("_ZN3foo3barEv")},
      {"bad\xFF.dll", std::string_view("name\xFF")},
      {"KERNEL32.dll", std::string_view("GetTickCount")},
  };
  file.exports = std::unexpected(std::string("Invalid PE export directory address"));
  std::string r = build_report(file);
  EXPECT_NE(r.find("== Dependencies (3) ==\n  ADVAPI32.dll\n  KERNEL32.dll\n  cxx.dll\n\n"), std::string::npos) << r;
  EXPECT_NE(r.find("== Exports ==\n  Error reading exports: Invalid PE export directory address\n\n== Imports (5) ==\n"),
            std::string::npos)
      << r;
  EXPECT_NE(r.find("  [KERNEL32.dll]  Sleep\n"
                   "  [ADVAPI32.dll]  #7\n"
                   "  [cxx.dll]  _ZN3foo3barEv\n"
                   "             foo::bar()\n"
                   "  [<invalid>]  name\xEF\xBF\xBD\n"),
            std::string::npos)
      << r;

  file.pe_imports = std::unexpected(std::string("Invalid PE import directory address"));
  r = build_report(file);
  EXPECT_NE(r.find("== Dependencies (0) ==\n  (none)\n"), std::string::npos);
  EXPECT_NE(r.find("== Imports ==\n  Error reading imports: Invalid PE import directory address\n\n== Symbols"),
            std::string::npos);
}

// A small file can name one long string from every symbol; the report
// stops at MAX_REPORT_BYTES instead of spelling out gigabytes, and the
// dependency list stops at MAX_DEPENDENCY_NAME_BYTES.
TEST_F(SyntheticReport, HugeReportsAreCutShort) {
  std::string long_name(1 << 20, 'x');
  file.symbols.assign(300, Symbol{std::string_view(long_name), 0, SymbolKind::data, SymbolSectionKind::section});
  std::string r = build_report(file);
  EXPECT_GT(r.size(), MAX_REPORT_BYTES);
  EXPECT_LT(r.size(), MAX_REPORT_BYTES + 2 * long_name.size());
  EXPECT_TRUE(r.ends_with("\n  (report cut short: it would exceed 268,435,456 bytes)\n\n"));

  file.symbols.clear();
  file.kind = FileKind::pe64;
  std::vector<std::string> libraries;
  for (char c = 'a'; c <= 'z'; ++c) libraries.push_back(std::string(1 << 20, c));
  std::vector<PeImport> imports;
  for (const auto& l : libraries) imports.push_back({l, std::uint16_t{1}});
  file.pe_imports = imports;
  EXPECT_EQ(collect_dependencies(file).size(), MAX_DEPENDENCY_NAME_BYTES / (1 << 20));
}

}  // namespace
}  // namespace brindle::exe
