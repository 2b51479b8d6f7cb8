// PE, COFF, big-object COFF, Mach-O and XCOFF fixtures from mingw-w64,
// clang with lld-link / ld64.lld, and clang 14 / 16, checked against
// llvm-readobj, llvm-nm and llvm-objdump.
#include <gtest/gtest.h>

#include <algorithm>
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
using test::readobj_blocks;
using test::run_tool;
using test::words_of;

std::string tool(const std::string& command, const char* fixture) {
  return run_tool(command + " " + test::fixture_path(fixture));
}

struct Fixture {
  const char* name;
  FileKind kind;
  const char* arch;
  const char* format_line;
};

const Fixture FIXTURES[] = {
    {"pe-winapp.exe", FileKind::pe64, "x86-64", "PE 64-bit, little-endian"},
    {"pe-winlib.dll", FileKind::pe64, "x86-64", "PE 64-bit, little-endian"},
    {"pe-lld-delay.exe", FileKind::pe64, "x86-64", "PE 64-bit, little-endian"},
    {"pe32-winapp.exe", FileKind::pe32, "x86 (32-bit)", "PE 32-bit, little-endian"},
    {"coff-x86_64-pc-windows-msvc.obj", FileKind::coff, "x86-64", "COFF 32-bit, little-endian"},
    {"coff-i686-pc-windows-msvc.obj", FileKind::coff, "x86 (32-bit)", "COFF 32-bit, little-endian"},
    {"coff-aarch64-pc-windows-msvc.obj", FileKind::coff, "AArch64 (ARM64)", "COFF 32-bit, little-endian"},
    {"coff-bigobj.obj", FileKind::coff_big, "x86-64", "COFF 32-bit, little-endian"},
    {"macho-x86_64.o", FileKind::macho64, "x86-64", "Mach-O 64-bit, little-endian"},
    {"macho-arm64.o", FileKind::macho64, "AArch64 (ARM64)", "Mach-O 64-bit, little-endian"},
    {"macho-i386.o", FileKind::macho32, "x86 (32-bit)", "Mach-O 32-bit, little-endian"},
    {"macho-x86_64.dylib", FileKind::macho64, "x86-64", "Mach-O 64-bit, little-endian"},
    {"xcoff32.o", FileKind::xcoff32, "PowerPC", "XCOFF 32-bit, big-endian"},
    {"xcoff64.o", FileKind::xcoff64, "PowerPC", "XCOFF 64-bit, big-endian"},
};

TEST(OtherFixtures, HeaderAndSectionsMatchReadobj) {
  for (const auto& fx : FIXTURES) {
    SCOPED_TRACE(fx.name);
    auto bytes = read_fixture(fx.name);
    auto file = read_object(Bytes(bytes));
    ASSERT_TRUE(file.has_value()) << file.error();
    EXPECT_EQ(file->kind, fx.kind);
    EXPECT_EQ(architecture_label(*file), fx.arch);
    std::string report = build_report(*file);
    EXPECT_NE(report.find(std::string("  Format:     ") + fx.format_line + "\n"), std::string::npos);

    std::uint64_t image_base = 0;
    if (is_pe(fx.kind)) {
      auto headers = readobj_blocks(tool("llvm-readobj-14 --file-headers", fx.name), "ImageOptionalHeader");
      ASSERT_EQ(headers.size(), 1u);
      image_base = parse_number(headers[0]["ImageBase"]);
      EXPECT_EQ(file->entry, image_base + parse_number(headers[0]["AddressOfEntryPoint"]));
    } else if (!is_macho(fx.kind)) {
      EXPECT_EQ(file->entry, 0u);  // object files have no entry point
    }

    auto sections = readobj_blocks(tool("llvm-readobj-14 --sections", fx.name), "Section");
    ASSERT_EQ(file->sections.size(), sections.size());
    for (std::size_t i = 0; i < sections.size(); ++i) {
      auto& s = sections[i];
      EXPECT_EQ(file->sections[i].name.value_or("<?>"), s["Name"]);
      std::uint64_t address, size;
      if (is_pe(fx.kind)) {
        address = image_base + parse_number(s["VirtualAddress"]);
        size = parse_number(s["VirtualSize"]);
      } else if (is_coff(fx.kind)) {
        address = parse_number(s["VirtualAddress"]);
        size = parse_number(s["RawDataSize"]);
      } else if (is_xcoff(fx.kind)) {
        address = parse_number(s["PhysicalAddress"]);
        size = parse_number(s["Size"]);
      } else {
        address = parse_number(s["Address"]);
        size = parse_number(s["Size"]);
      }
      EXPECT_EQ(file->sections[i].address, address) << s["Name"];
      EXPECT_EQ(file->sections[i].size, size) << s["Name"];
    }

    // Objects list their undefined symbols as imports, in table order.
    if (!is_pe(fx.kind)) {
      std::vector<std::string> undefined;
      for (const auto& line : lines_of(tool("llvm-nm-14 -p -u", fx.name)))
        if (!words_of(line).empty()) undefined.push_back(words_of(line).back());
      ASSERT_EQ(file->undefined_imports.size(), undefined.size());
      for (std::size_t i = 0; i < undefined.size(); ++i)
        EXPECT_EQ(file->undefined_imports[i].name.value_or("<invalid>"), undefined[i]);
    }
  }
}

// Imports in descriptor order, regular table first, then delay-load.
TEST(PeFixtures, ImportsMatchReadobj) {
  for (const char* name : {"pe-winapp.exe", "pe-winlib.dll", "pe-lld-delay.exe", "pe32-winapp.exe"}) {
    SCOPED_TRACE(name);
    auto bytes = read_fixture(name);
    auto file = read_object(Bytes(bytes));
    ASSERT_TRUE(file.has_value() && file->pe_imports.has_value());
    std::vector<std::string> expected;
    std::string library;
    for (const auto& line : lines_of(tool("llvm-readobj-14 --coff-imports", name))) {
      auto w = words_of(line);
      if (w.size() >= 2 && w[0] == "Name:") library = w[1];
      // "Symbol: name (hint)", or "Symbol:  (ordinal)" for imports by ordinal.
      if (w.size() >= 2 && w[0] == "Symbol:")
        expected.push_back("[" + library + "] " + (w.size() == 2 ? "#" + w[1].substr(1, w[1].size() - 2) : w[1]));
    }
    std::vector<std::string> got;
    for (const auto& imp : *file->pe_imports)
      got.push_back("[" + std::string(imp.library) + "] " + display_entry_name(imp.name));
    EXPECT_EQ(got, expected);
  }
}

// Named exports and ordinal-only ones, forwarders as re-exports.
TEST(PeFixtures, ExportsMatchReadobj) {
  auto bytes = read_fixture("pe-winlib.dll");
  auto file = read_object(Bytes(bytes));
  ASSERT_TRUE(file.has_value() && file->exports.has_value());
  auto headers = readobj_blocks(tool("llvm-readobj-14 --file-headers", "pe-winlib.dll"), "ImageOptionalHeader");
  std::uint64_t image_base = parse_number(headers.at(0)["ImageBase"]);
  auto exports = readobj_blocks(tool("llvm-readobj-14 --coff-exports", "pe-winlib.dll"), "Export");
  ASSERT_EQ(file->exports->size(), exports.size());
  for (auto& e : exports) {
    std::string name = e.contains("Name") && !e["Name"].empty() ? e["Name"] : "#" + e["Ordinal"];
    auto it = std::find_if(file->exports->begin(), file->exports->end(),
                           [&](const Export& x) { return display_entry_name(x.name) == name; });
    ASSERT_NE(it, file->exports->end()) << name;
    if (const auto* a = std::get_if<target::Address>(&it->target)) {
      EXPECT_EQ(a->address, image_base + parse_number(e["RVA"])) << name;
    }
  }
  std::string report = build_report(*file);
  // Named exports first in name-table order, then ordinal-only ones; the
  // C++ name gets its demangled line 22 spaces in.
  EXPECT_NE(report.find("== Exports (6) ==\n"
                        "  reexport [twin] #7  ByOrdinalForward\n"
                        "  reexport [KERNEL32] GetTickCount  GetTickAlias\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("  _ZN3foo3barEv\n                      foo::bar()\n"), std::string::npos);
  EXPECT_NE(report.find("  #9\n\n== Imports"), std::string::npos);
}

TEST(PeFixtures, DependenciesAreASortedSet) {
  auto bytes = read_fixture("pe-winapp.exe");
  auto file = read_object(Bytes(bytes));
  ASSERT_TRUE(file.has_value());
  // twin.dll comes through two descriptors and is listed once; upper-case
  // names sort first.
  EXPECT_EQ(collect_dependencies(*file),
            (std::vector<std::string>{"ADVAPI32.dll", "KERNEL32.dll", "kernel32.dll", "msvcrt.dll", "twin.dll",
                                      "winlib.dll"}));
  std::string report = build_report(*file);
  EXPECT_NE(report.find("  [twin.dll]  #7\n"), std::string::npos);
  EXPECT_NE(report.find("  [kernel32.dll]  Sleep\n"), std::string::npos);
}

TEST(MachOFixtures, DylibDependenciesAndExports) {
  auto bytes = read_fixture("macho-x86_64.dylib");
  auto file = read_object(Bytes(bytes));
  ASSERT_TRUE(file.has_value());
  // Load, weak and re-export commands in command order, duplicates kept.
  std::vector<std::string> expected;
  bool dylib_command = false;
  for (const auto& line : lines_of(tool("llvm-objdump-14 --macho --private-headers", "macho-x86_64.dylib"))) {
    auto w = words_of(line);
    if (w.size() == 2 && w[0] == "cmd")
      dylib_command = w[1] == "LC_LOAD_DYLIB" || w[1] == "LC_LOAD_WEAK_DYLIB" || w[1] == "LC_REEXPORT_DYLIB";
    if (dylib_command && w.size() >= 2 && w[0] == "name") {
      expected.push_back(w[1]);
      dylib_command = false;
    }
  }
  EXPECT_EQ(collect_dependencies(*file), expected);
  EXPECT_NE(std::find(expected.begin(), expected.end(), "/usr/lib/libweakdep.dylib"), expected.end());

  std::vector<std::pair<std::uint64_t, std::string>> trie;
  for (const auto& line : lines_of(tool("llvm-objdump-14 --macho --exports-trie", "macho-x86_64.dylib"))) {
    auto w = words_of(line);
    if (w.size() == 2 && w[0].starts_with("0x")) trie.emplace_back(parse_number(w[0]), w[1]);
  }
  ASSERT_TRUE(file->exports.has_value());
  ASSERT_EQ(file->exports->size(), trie.size());
  for (std::size_t i = 0; i < trie.size(); ++i) {
    EXPECT_EQ(display_entry_name((*file->exports)[i].name), trie[i].second);
    EXPECT_EQ(export_address_text((*file->exports)[i].target), export_address_text(target::Address{trie[i].first}));
  }
}

TEST(OtherFixtures, SectionKindsAndSymbolLetters) {
  struct Case {
    const char* fixture;
    const char* line;
  } cases[] = {
      {"coff-x86_64-pc-windows-msvc.obj", "  .text                      0x0000000000000000   "},
      {"coff-x86_64-pc-windows-msvc.obj", "  Entry:      0x0000000000000000\n"},
      {"coff-x86_64-pc-windows-msvc.obj", "  T  0x0000000000000000  exported\n"},
      {"coff-x86_64-pc-windows-msvc.obj", "  U  0x0000000000000000  imported\n"},
      {"coff-bigobj.obj", "  U  0x0000000000000000  imported\n"},
      {"macho-x86_64.o", "  __common                   0x0000000000000098   4                bss\n"},
      {"macho-x86_64.o", "  T  0x0000000000000000  _mach_add\n"},
      {"macho-x86_64.dylib", "  __text                     0x0000000000000630   45               code\n"},
      {"macho-x86_64.dylib", "  __got                      0x0000000000002000   16               data\n"},
      {"xcoff32.o", "  .tdata                     0x0000000000000000   4                tls\n"},
      {"xcoff64.o", "  .text                      0x0000000000000000   120              code\n"},
  };
  for (const auto& c : cases) {
    auto bytes = read_fixture(c.fixture);
    std::string report = build_report(Bytes(bytes));
    EXPECT_NE(report.find(c.line), std::string::npos) << c.fixture << ": " << c.line << "\n" << report;
  }
}

// The COFF-style symbol tables without file symbols and section
// definitions, in table order, as llvm-readobj lists them.
TEST(OtherFixtures, SymbolsMatchReadobj) {
  for (const char* name : {"coff-x86_64-pc-windows-msvc.obj", "coff-i686-pc-windows-msvc.obj", "coff-bigobj.obj",
                           "pe-winapp.exe", "xcoff32.o", "xcoff64.o"}) {
    SCOPED_TRACE(name);
    auto bytes = read_fixture(name);
    auto file = read_object(Bytes(bytes));
    ASSERT_TRUE(file.has_value());
    std::vector<std::pair<std::string, std::string>> expected;  // name, value
    for (auto& s : readobj_blocks(tool("llvm-readobj-14 --symbols", name), "Symbol")) {
      const std::string& storage = s["StorageClass"];
      // llvm-readobj calls every static symbol with an auxiliary record a
      // section definition; static functions (gcc gives them one too) are
      // functions all the same.
      bool section_definition = s.contains("AuxSectionDef") && storage == "Static" && s["ComplexType"] != "Function";
      if (storage == "File" || storage == "C_FILE" || storage == "Section" || section_definition) continue;
      std::string value = "0";
      for (const auto& [key, v] : s)
        if (key.starts_with("Value")) value = v;
      expected.emplace_back(s["Name"], value);
    }
    ASSERT_EQ(file->symbols.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(file->symbols[i].name.value_or("<invalid>"), expected[i].first);
      // Object files have sections at address 0: the address is the value.
      if (!is_pe(file->kind) && file->symbols[i].section != SymbolSectionKind::common) {
        EXPECT_EQ(file->symbols[i].address, parse_number(expected[i].second)) << expected[i].first;
      }
    }
  }
}

TEST(OtherFixtures, FatMachOIsRejected) {
  auto bytes = read_fixture("macho-fat.o");
  EXPECT_EQ(build_report(Bytes(bytes)), "Failed to parse executable: Unsupported file format\n");
}

}  // namespace
}  // namespace brindle::exe
