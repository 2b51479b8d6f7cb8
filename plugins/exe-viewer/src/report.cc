#include "report.h"

#include <algorithm>

#include "demangle.h"
#include "dependencies.h"
#include "labels.h"
#include "object_reader.h"
#include "text.h"

namespace brindle::exe {

namespace {

constexpr std::string_view INVALID_NAME = "<invalid>";
constexpr std::string_view UNREADABLE_SECTION = "<?>";

std::string_view format_name(FileKind k) {
  if (is_elf(k)) return "ELF";
  if (is_macho(k)) return "Mach-O";
  if (is_pe(k)) return "PE";
  if (is_coff(k)) return "COFF";
  return "XCOFF";
}

void line(std::string& out, std::string_view text) {
  out += text;
  out += '\n';
}

void count_line(std::string& out, std::string_view title, std::size_t n) {
  out += "== ";
  out += title;
  out += " (";
  out += std::to_string(n);
  out += ") ==\n";
}

// The demangled second line, if any, indented by `indent` spaces.
void demangled_line(std::string& out, std::string_view name, std::size_t indent) {
  if (auto d = demangle_symbol(name)) {
    out.append(indent, ' ');
    out += *d;
    out += '\n';
  }
}

void header_block(std::string& out, const ObjectFile& f) {
  line(out, "== Executable info ==");
  out += "  Format:     ";
  out += format_name(f.kind);
  out += f.is_64 ? " 64-bit, " : " 32-bit, ";
  line(out, f.big_endian ? "big-endian" : "little-endian");
  out += "  Arch:       ";
  line(out, architecture_label(f));
  out += "  Entry:      ";
  line(out, hex18(f.entry));
  out += "  File size:  ";
  out += group_thousands(f.data.size());
  line(out, " bytes");
  out += '\n';
}

bool dependencies_block(std::string& out, const ObjectFile& f) {
  auto deps = collect_dependencies(f);
  count_line(out, "Dependencies", deps.size());
  if (deps.empty()) line(out, "  (none)");
  for (const auto& d : deps) {
    if (out.size() > MAX_REPORT_BYTES) return false;
    out += "  ";
    line(out, d);
  }
  out += '\n';
  return true;
}

bool sections_block(std::string& out, const ObjectFile& f) {
  count_line(out, "Sections", f.sections.size());
  out += "  ";
  append_left(out, "Name", 26);
  out += ' ';
  append_left(out, "Address", 20);
  out += ' ';
  append_left(out, "Size", 16);
  line(out, " Kind");
  for (const Section& s : f.sections) {
    if (out.size() > MAX_REPORT_BYTES) return false;
    out += "  ";
    append_left(out, s.name ? *s.name : UNREADABLE_SECTION, 26);
    out += ' ';
    out += hex18(s.address);
    out += "   ";
    append_left(out, std::to_string(s.size), 16);
    out += ' ';
    line(out, section_kind_label(s.kind));
  }
  out += '\n';
  return true;
}

bool exports_block(std::string& out, const ObjectFile& f) {
  if (!f.exports) {
    line(out, "== Exports ==");
    out += "  Error reading exports: ";
    line(out, f.exports.error());
    out += '\n';
    return true;
  }
  count_line(out, "Exports", f.exports->size());
  if (f.exports->empty()) line(out, "  (none)");
  for (const Export& e : *f.exports) {
    if (out.size() > MAX_REPORT_BYTES) return false;
    out += "  ";
    append_right(out, export_address_text(e.target), 18);
    out += "  ";
    std::string name = display_entry_name(e.name);
    line(out, name);
    demangled_line(out, name, 22);
  }
  out += '\n';
  return true;
}

bool imports_block(std::string& out, const ObjectFile& f) {
  if (is_pe(f.kind)) {
    if (!f.pe_imports) {
      line(out, "== Imports ==");
      out += "  Error reading imports: ";
      line(out, f.pe_imports.error());
      out += '\n';
      return true;
    }
    count_line(out, "Imports", f.pe_imports->size());
    if (f.pe_imports->empty()) line(out, "  (none)");
    for (const PeImport& imp : *f.pe_imports) {
      if (out.size() > MAX_REPORT_BYTES) return false;
      std::string_view library = is_valid_utf8(imp.library) ? imp.library : INVALID_NAME;
      std::string name = display_entry_name(imp.name);
      out += "  [";
      out += library;
      out += "]  ";
      line(out, name);
      demangled_line(out, name, library.size() + 6);
    }
    out += '\n';
    return true;
  }
  count_line(out, "Imports", f.undefined_imports.size());
  if (f.undefined_imports.empty()) line(out, "  (none)");
  for (const Symbol& s : f.undefined_imports) {
    if (out.size() > MAX_REPORT_BYTES) return false;
    out += "  ";
    line(out, s.name ? *s.name : INVALID_NAME);
    if (s.name) demangled_line(out, *s.name, 2);
  }
  out += '\n';
  return true;
}

bool symbols_block(std::string& out, const ObjectFile& f) {
  count_line(out, "Symbols", f.symbols.size());
  if (f.symbols.empty()) line(out, "  (none \xE2\x80\x94 binary may be stripped)");
  for (const Symbol& s : f.symbols) {
    if (out.size() > MAX_REPORT_BYTES) return false;
    out += "  ";
    out += symbol_type_letter(s);
    out += "  ";
    out += hex18(s.address);
    out += "  ";
    line(out, s.name ? *s.name : INVALID_NAME);
    if (s.name) demangled_line(out, *s.name, 25);
  }
  out += '\n';
  return true;
}

// An upper-bound guess of the report's length, reserved once the lists are
// known: growing a 10 MB report by doubling copies it over and over. Each
// name may get a demangled line, so names count twice.
std::size_t estimated_size(const ObjectFile& f) {
  constexpr std::size_t ROW = 48;
  std::size_t n = REPORT_INITIAL_CAPACITY + f.sections.size() * 80;
  auto name_size = [](const auto& name) { return name ? name->size() : 9; };
  if (f.exports)
    for (const auto& e : *f.exports) {
      const auto* text = std::get_if<std::string_view>(&e.name);
      n += ROW + 2 * (text ? text->size() : 6);
    }
  if (f.pe_imports)
    for (const auto& i : *f.pe_imports) {
      const auto* text = std::get_if<std::string_view>(&i.name);
      n += ROW + 2 * i.library.size() + 2 * (text ? text->size() : 6);
    }
  for (const auto& s : f.undefined_imports) n += ROW + 2 * name_size(s.name);
  for (const auto& s : f.symbols) n += ROW + 2 * name_size(s.name);
  return n;
}

}  // namespace

std::string group_thousands(std::uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string build_report(const ObjectFile& file) {
  std::string out;
  out.reserve(REPORT_INITIAL_CAPACITY);
  out.reserve(std::min(estimated_size(file), MAX_REPORT_BYTES + REPORT_INITIAL_CAPACITY));
  header_block(out, file);
  bool complete = dependencies_block(out, file) && sections_block(out, file) && exports_block(out, file) &&
                  imports_block(out, file) && symbols_block(out, file);
  if (!complete) {
    out += "  (report cut short: it would exceed ";
    out += group_thousands(MAX_REPORT_BYTES);
    out += " bytes)\n\n";
  }
  return out;
}

std::string build_report(Bytes data) {
  auto file = read_object(data);
  if (!file) {
    std::string out;
    out.reserve(REPORT_INITIAL_CAPACITY);
    out += "Failed to parse executable: ";
    out += file.error();
    out += '\n';
    return out;
  }
  return build_report(*file);
}

}  // namespace brindle::exe
