// ELF fixtures from gcc and clang/lld for eight architectures, checked
// against readelf's view of the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "dependencies.h"
#include "labels.h"
#include "object_reader.h"
#include "report.h"
#include "tool_output.h"

namespace brindle::exe {
namespace {

using test::lines_of;
using test::parse_number;
using test::read_fixture;
using test::run_tool;
using test::words_of;

struct ElfFixture {
  const char* name;
  const char* arch;
};

const ElfFixture ELF_FIXTURES[] = {
    {"elf-x86_64-gcc-cxx", "x86-64"},
    {"elf-x86_64-gcc.so", "x86-64"},
    {"elf-x86_64-gcc.o", "x86-64"},
    {"elf-x86_64-stripped.so", "x86-64"},
    {"elf-x86_64-ifunc.so", "x86-64"},
    {"elf-x86_64-static", "x86-64"},
    {"elf-x86_64-clang.so", "x86-64"},
    {"elf-i386-linux-gnu.so", "x86 (32-bit)"},
    {"elf-aarch64-linux-gnu.so", "AArch64 (ARM64)"},
    {"elf-armv7-linux-gnueabihf.so", "ARM (32-bit)"},
    {"elf-riscv64-linux-gnu.so", "RISC-V"},
    {"elf-powerpc64le-linux-gnu.so", "PowerPC"},
    {"elf-powerpc-linux-gnu.so", "PowerPC"},
    {"elf-s390x-linux-gnu.o", "s390x"},
    {"elf-mips-linux-gnu.so", "MIPS"},
    {"elf-mips64el-linux-gnuabi64.so", "MIPS"},
};

std::string readelf(const std::string& options, const char* fixture) {
  return run_tool("readelf -W " + options + " " + test::fixture_path(fixture));
}

struct ToolSymbol {
  std::uint64_t value;
  std::string type, bind, ndx, name;
};

// The rows of one table of `readelf -s`, from index 1, names without their
// version suffix.
std::vector<ToolSymbol> readelf_symbols(const std::string& out, const std::string& table) {
  std::vector<ToolSymbol> rows;
  bool inside = false;
  for (const auto& line : lines_of(out)) {
    if (line.starts_with("Symbol table ")) {
      inside = line.find("'" + table + "'") != std::string::npos;
      continue;
    }
    auto w = words_of(line);
    // ppc64 inserts "[<localentry>: 8]" after the visibility.
    if (auto at = std::find(w.begin(), w.end(), "[<localentry>:"); at != w.end() && at + 1 != w.end())
      w.erase(at, at + 2);
    if (!inside || w.size() < 7 || !w[0].ends_with(":") || w[0] == "Num:" || w[0] == "0:") continue;
    std::string name = w.size() > 7 ? w[7] : "";
    // Dynamic symbols get their version appended by readelf; .symtab names
    // are shown as stored.
    if (table == ".dynsym") name = name.substr(0, name.find('@'));
    rows.push_back({std::stoull(w[1], nullptr, 16), w[3], w[4], w[6], name});
  }
  return rows;
}

char expected_letter(const ToolSymbol& s) {
  if (s.ndx == "UND") return 'U';
  if (s.type == "FUNC" || s.type == "IFUNC") return 'T';
  if (s.type == "OBJECT" || s.type == "COMMON") return 'D';
  if (s.type == "TLS") return 'T';
  if (s.ndx == "COM") return 'C';
  if (s.ndx == "ABS") return 'A';
  return '?';
}

std::string expected_export_text(const ToolSymbol& s) {
  std::ostringstream hex;
  hex << "0x" << std::hex << s.value;
  if (s.type == "TLS") return "tls+" + hex.str();
  if (s.type == "IFUNC") return "resolver " + hex.str();
  if (s.ndx == "ABS") return "abs " + hex.str();
  return export_address_text(target::Address{s.value});
}

TEST(ElfFixtures, MatchReadelf) {
  for (const auto& fx : ELF_FIXTURES) {
    SCOPED_TRACE(fx.name);
    auto bytes = read_fixture(fx.name);
    auto file = read_object(Bytes(bytes));
    ASSERT_TRUE(file.has_value()) << file.error();
    EXPECT_EQ(architecture_label(*file), fx.arch);

    // Header.
    std::string header = readelf("-h", fx.name);
    EXPECT_EQ(file->is_64, header.find("Class:                             ELF64") != std::string::npos);
    EXPECT_EQ(file->big_endian, header.find("big endian") != std::string::npos);
    for (const auto& line : lines_of(header)) {
      if (line.find("Entry point address:") != std::string::npos) {
        EXPECT_EQ(file->entry, parse_number(words_of(line).back()));
      }
    }

    // Sections, from index 1, in header order.
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> sections;
    for (const auto& line : lines_of(readelf("-S", fx.name))) {
      auto close = line.find(']');
      if (!line.starts_with("  [") || close == std::string::npos || line.find("[Nr]") != std::string::npos) continue;
      if (words_of(line.substr(3, close - 3)) == std::vector<std::string>{"0"}) continue;  // the null section
      auto w = words_of(line.substr(close + 1));
      if (w.size() < 5) continue;
      sections.emplace_back(w[0], std::stoull(w[2], nullptr, 16), std::stoull(w[4], nullptr, 16));
    }
    ASSERT_EQ(file->sections.size(), sections.size());
    for (std::size_t i = 0; i < sections.size(); ++i) {
      EXPECT_EQ(file->sections[i].name.value_or("<?>"), std::get<0>(sections[i]));
      EXPECT_EQ(file->sections[i].address, std::get<1>(sections[i]));
      EXPECT_EQ(file->sections[i].size, std::get<2>(sections[i]));
    }

    // Dependencies: the NEEDED entries in order.
    std::vector<std::string> needed;
    std::string dynamic = run_tool("readelf -W -d " + test::fixture_path(fx.name) + "; true");
    for (const auto& line : lines_of(dynamic))
      if (line.find("(NEEDED)") != std::string::npos)
        needed.push_back(line.substr(line.find('[') + 1, line.rfind(']') - line.find('[') - 1));
    EXPECT_EQ(collect_dependencies(*file), needed);

    std::string syms = readelf("-s", fx.name);
    // Symbols: .symtab without section and file symbols.
    std::vector<ToolSymbol> symtab;
    for (auto& s : readelf_symbols(syms, ".symtab"))
      if (s.type != "SECTION" && s.type != "FILE") symtab.push_back(s);
    ASSERT_EQ(file->symbols.size(), symtab.size());
    for (std::size_t i = 0; i < symtab.size(); ++i) {
      EXPECT_EQ(file->symbols[i].name.value_or("<invalid>"), symtab[i].name);
      EXPECT_EQ(file->symbols[i].address, symtab[i].ndx == "COM" ? 0 : symtab[i].value) << symtab[i].name;
      EXPECT_EQ(symbol_type_letter(file->symbols[i]), expected_letter(symtab[i])) << symtab[i].name;
    }

    // Imports and exports from .dynsym.
    std::vector<std::string> imports;
    std::vector<std::pair<std::string, std::string>> exports;
    for (const auto& s : readelf_symbols(syms, ".dynsym")) {
      if (s.ndx == "UND") {
        imports.push_back(s.name);
      } else if (s.bind != "LOCAL" && s.ndx != "COM" &&
                 (s.type == "NOTYPE" || s.type == "OBJECT" || s.type == "FUNC" || s.type == "TLS" || s.type == "IFUNC")) {
        exports.emplace_back(expected_export_text(s), s.name);
      }
    }
    ASSERT_EQ(file->undefined_imports.size(), imports.size());
    for (std::size_t i = 0; i < imports.size(); ++i) EXPECT_EQ(file->undefined_imports[i].name, imports[i]);
    ASSERT_TRUE(file->exports.has_value());
    ASSERT_EQ(file->exports->size(), exports.size());
    for (std::size_t i = 0; i < exports.size(); ++i) {
      EXPECT_EQ(export_address_text((*file->exports)[i].target), exports[i].first);
      EXPECT_EQ(display_entry_name((*file->exports)[i].name), exports[i].second);
    }
  }
}

std::string report_of(const char* fixture) {
  auto bytes = read_fixture(fixture);
  return build_report(Bytes(bytes));
}

TEST(ElfFixtures, ReportTexts) {
  std::string cxx = report_of("elf-x86_64-gcc-cxx");
  EXPECT_TRUE(cxx.starts_with("== Executable info ==\n  Format:     ELF 64-bit, little-endian\n  Arch:       x86-64\n"));
  EXPECT_NE(cxx.find("  File size:  15,864 bytes\n"), std::string::npos);
  EXPECT_NE(cxx.find("== Dependencies (4) ==\n  libstdc++.so.6\n  libm.so.6\n  libgcc_s.so.1\n  libc.so.6\n\n"),
            std::string::npos);
  // Demangled second lines under symbols (25 spaces) and plain C names alone.
  EXPECT_NE(cxx.find("_ZN3foo3barEv\n                         foo::bar()\n"), std::string::npos);
  EXPECT_NE(cxx.find("== Imports (3) ==\n  printf\n  __libc_start_main\n  __gmon_start__\n\n"), std::string::npos);
  EXPECT_NE(cxx.find("  U  0x0000000000000000  printf@GLIBC_2.2.5\n  T  "), std::string::npos);

  std::string stripped = report_of("elf-x86_64-stripped.so");
  EXPECT_TRUE(stripped.ends_with("== Symbols (0) ==\n  (none \xE2\x80\x94 binary may be stripped)\n\n"));

  std::string statik = report_of("elf-x86_64-static");
  EXPECT_NE(statik.find("== Dependencies (0) ==\n  (none)\n\n"), std::string::npos);

  std::string ifunc = report_of("elf-x86_64-ifunc.so");
  EXPECT_NE(ifunc.find("     resolver 0x"), std::string::npos);
  EXPECT_NE(ifunc.find("             tls+0x0  tls_slot\n"), std::string::npos);

  // In an object file a TLS variable is "T", initialised data "D", a
  // common symbol "D" with address 0, an undefined reference "U".
  std::string object = report_of("elf-x86_64-gcc.o");
  EXPECT_NE(object.find("  T  0x0000000000000000  per_thread\n"), std::string::npos) << object;
  EXPECT_NE(object.find("  D  0x0000000000000000  zeroed\n"), std::string::npos);
  EXPECT_NE(object.find("  U  0x0000000000000000  external_value\n"), std::string::npos);
  EXPECT_NE(object.find("  .tdata                     0x0000000000000000   4                tls\n"), std::string::npos);
}

// DT_NEEDED entries are listed as they are, duplicates included, and the
// walk stops at DT_NULL.
TEST(ElfFixtures, DependenciesKeepDuplicatesAndStopAtNull) {
  auto bytes = read_fixture("elf-x86_64-gcc-cxx");
  auto file = read_object(Bytes(bytes));
  ASSERT_TRUE(file.has_value());
  auto original = collect_dependencies(*file);
  ASSERT_EQ(original.size(), 4u);
  const Section* dynamic = nullptr;
  for (const auto& s : file->sections)
    if (s.name == ".dynamic") dynamic = &s;
  ASSERT_TRUE(dynamic && dynamic->contents);
  auto* entries = const_cast<std::uint8_t*>(dynamic->contents->data());
  // Point the second DT_NEEDED at the first one's name.
  std::memcpy(entries + 16 + 8, entries + 8, 8);
  EXPECT_EQ(collect_dependencies(*file), (std::vector<std::string>{original[0], original[0], original[2], original[3]}));
  // A DT_NULL in second place ends the list after the first entry.
  std::memset(entries + 16, 0, 16);
  EXPECT_EQ(collect_dependencies(*file), std::vector<std::string>{original[0]});
}

}  // namespace
}  // namespace brindle::exe
