#include "dependencies.h"

#include <algorithm>

#include "text.h"

namespace brindle::exe {

namespace {

constexpr std::int64_t DT_NULL = 0;
constexpr std::int64_t DT_NEEDED = 1;

constexpr std::uint32_t LC_LOAD_DYLIB = 0x0C;
constexpr std::uint32_t LC_LOAD_WEAK_DYLIB = 0x80000018;
constexpr std::uint32_t LC_REEXPORT_DYLIB = 0x8000001F;

// Appends `name` unless the list already holds MAX_DEPENDENCY_NAME_BYTES.
bool add_name(std::vector<std::string>& out, std::size_t& total, std::string_view name) {
  if (total + name.size() > MAX_DEPENDENCY_NAME_BYTES) return false;
  total += name.size();
  out.emplace_back(name);
  return true;
}

const Section* first_named(const ObjectFile& f, std::string_view name) {
  for (const Section& s : f.sections)
    if (s.name && *s.name == name) return &s;
  return nullptr;
}

std::vector<std::string> elf_dependencies(const ObjectFile& f) {
  std::vector<std::string> out;
  std::size_t total = 0;
  const Section* dynamic = first_named(f, ".dynamic");
  const Section* dynstr = first_named(f, ".dynstr");
  if (!dynamic || !dynstr || !dynamic->contents || !dynstr->contents) return out;
  ByteReader table(*dynamic->contents, f.big_endian);
  ByteReader strings(*dynstr->contents, f.big_endian);
  const std::size_t entry = f.is_64 ? 16 : 8;
  for (std::size_t off = 0; off + entry <= table.size(); off += entry) {
    std::int64_t tag;
    std::uint64_t value;
    if (f.is_64) {
      tag = static_cast<std::int64_t>(*table.u64(off));
      value = *table.u64(off + 8);
    } else {
      tag = static_cast<std::int32_t>(*table.u32(off));
      value = *table.u32(off + 4);
    }
    if (tag == DT_NULL) break;
    if (tag != DT_NEEDED) continue;
    auto name = strings.c_string(value);
    if (!name || name->empty() || !is_valid_utf8(as_chars(*name))) continue;
    if (!add_name(out, total, as_chars(*name))) break;
  }
  return out;
}

std::vector<std::string> macho_dependencies(const ObjectFile& f) {
  std::vector<std::string> out;
  std::size_t total = 0;
  Bytes d = f.data;
  if (d.size() < 20) return out;
  bool big;
  std::uint64_t header_size;
  std::uint32_t magic_be = (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) | (std::uint32_t{d[2]} << 8) | d[3];
  switch (magic_be) {
    case 0xFEEDFACE: big = true; header_size = 28; break;
    case 0xCEFAEDFE: big = false; header_size = 28; break;
    case 0xFEEDFACF: big = true; header_size = 32; break;
    case 0xCFFAEDFE: big = false; header_size = 32; break;
    default: return out;
  }
  ByteReader r(d, big);
  std::uint32_t count = *r.u32(16);
  std::uint64_t off = header_size;
  // Each command advances by a non-zero size inside the file, so the walk
  // ends after at most file-size steps even when the count is hostile.
  for (std::uint32_t i = 0; i < count; ++i) {
    auto cmd = r.u32(off);
    auto size = r.u32(off + 4);
    if (!cmd || !size || *size == 0) break;
    if (*cmd == LC_LOAD_DYLIB || *cmd == LC_LOAD_WEAK_DYLIB || *cmd == LC_REEXPORT_DYLIB) {
      if (auto name_offset = r.u32(off + 8)) {
        auto name = r.c_string(off + *name_offset);
        if (name && !name->empty() && is_valid_utf8(as_chars(*name)) && !add_name(out, total, as_chars(*name))) break;
      }
    }
    off += *size;
    if (off >= d.size()) break;
  }
  return out;
}

std::vector<std::string> pe_dependencies(const ObjectFile& f) {
  std::vector<std::string> out;
  if (!f.pe_imports) return out;
  // Deduplicated as views first: many imports share one library name.
  std::vector<std::string_view> names;
  for (const PeImport& imp : *f.pe_imports) names.push_back(imp.library);
  // string_view compares as unsigned bytes: upper case sorts first and a
  // prefix before the longer name.
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::size_t total = 0;
  for (std::string_view name : names)
    if (is_valid_utf8(name) && !add_name(out, total, name)) break;
  return out;
}

}  // namespace

std::vector<std::string> collect_dependencies(const ObjectFile& file) {
  if (is_elf(file.kind)) return elf_dependencies(file);
  if (is_macho(file.kind)) return macho_dependencies(file);
  if (is_pe(file.kind)) return pe_dependencies(file);
  return {};
}

}  // namespace brindle::exe
