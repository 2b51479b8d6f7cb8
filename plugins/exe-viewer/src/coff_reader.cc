#include "coff_reader.h"

#include "pe_directories.h"
#include "pe_image.h"
#include "text.h"

namespace brindle::exe {

namespace {

constexpr std::uint32_t SCN_CNT_CODE = 0x20;
constexpr std::uint32_t SCN_CNT_INITIALIZED_DATA = 0x40;
constexpr std::uint32_t SCN_CNT_UNINITIALIZED_DATA = 0x80;
constexpr std::uint32_t SCN_LNK_INFO = 0x200;
constexpr std::uint32_t SCN_MEM_DISCARDABLE = 0x02000000;
constexpr std::uint32_t SCN_MEM_EXECUTE = 0x20000000;
constexpr std::uint32_t SCN_MEM_WRITE = 0x80000000;

constexpr std::uint8_t SYM_CLASS_EXTERNAL = 2;
constexpr std::uint8_t SYM_CLASS_STATIC = 3;
constexpr std::uint8_t SYM_CLASS_LABEL = 6;
constexpr std::uint8_t SYM_CLASS_FILE = 103;
constexpr std::uint8_t SYM_CLASS_SECTION = 104;
constexpr std::uint8_t SYM_CLASS_WEAK_EXTERNAL = 105;
constexpr std::uint16_t SYM_DTYPE_FUNCTION = 2;

constexpr std::size_t SECTION_HEADER_SIZE = 40;
constexpr std::size_t BIGOBJ_HEADER_SIZE = 56;

SectionKind coff_section_kind(std::uint32_t c) {
  if (c & (SCN_CNT_CODE | SCN_MEM_EXECUTE)) return SectionKind::text;
  if (c & SCN_CNT_INITIALIZED_DATA) {
    if (c & SCN_MEM_DISCARDABLE) return SectionKind::other;
    if (c & SCN_MEM_WRITE) return SectionKind::data;
    return SectionKind::read_only_data;
  }
  if (c & SCN_CNT_UNINITIALIZED_DATA) return SectionKind::uninitialized_data;
  if (c & SCN_LNK_INFO) return SectionKind::linker;
  return SectionKind::unknown;
}

std::optional<std::string_view> utf8_or_none(std::optional<Bytes> b) {
  if (!b || !is_valid_utf8(as_chars(*b))) return std::nullopt;
  return as_chars(*b);
}

// Long section names: "/123" is a decimal and "//AAAAAA" a base-64 offset
// into the string table.
std::optional<std::uint64_t> long_name_offset(std::string_view n) {
  if (n.size() < 2 || n[0] != '/') return std::nullopt;
  std::uint64_t v = 0;
  if (n[1] == '/') {
    for (char c : n.substr(2)) {
      int d;
      if (c >= 'A' && c <= 'Z') d = c - 'A';
      else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
      else if (c >= '0' && c <= '9') d = c - '0' + 52;
      else if (c == '+') d = 62;
      else if (c == '/') d = 63;
      else return std::nullopt;
      v = v * 64 + static_cast<std::uint64_t>(d);
    }
    return v;
  }
  for (char c : n.substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return v;
}

struct Layout {
  std::uint32_t machine = 0;
  std::uint64_t section_table = 0;
  std::uint32_t section_count = 0;
  std::uint64_t symbol_table = 0;
  std::uint32_t symbol_count = 0;
  std::size_t symbol_size = 18;
};

struct RawSection {
  std::uint32_t virtual_size, virtual_address, raw_size, raw_offset, characteristics;
};

class CoffReader {
 public:
  CoffReader(Bytes data, FileKind kind) : data_(data), r_(data, false), kind_(kind) {}

  std::expected<ObjectFile, std::string> read() {
    ObjectFile out;
    out.kind = kind_;
    out.data = data_;
    out.is_64 = kind_ == FileKind::pe64;
    Layout l;
    std::uint64_t image_base = 0;
    std::uint32_t headers_size = 0;
    DataDirectory export_dir, import_dir, delay_dir;
    const bool image = is_pe(kind_);

    if (kind_ == FileKind::coff_big) {
      l.machine = *r_.u16(6);
      auto count = r_.u32(44), symptr = r_.u32(48), nsyms = r_.u32(52);
      if (!count || !symptr || !nsyms) return std::unexpected("Invalid big-object COFF header size");
      l.section_table = BIGOBJ_HEADER_SIZE;
      l.section_count = *count;
      l.symbol_table = *symptr;
      l.symbol_count = *nsyms;
      l.symbol_size = 20;
    } else {
      std::uint64_t header = 0;
      if (image) header = std::uint64_t{*r_.u32(0x3C)} + 4;
      auto machine = r_.u16(header), nsec = r_.u16(header + 2), optsize = r_.u16(header + 16);
      auto symptr = r_.u32(header + 8), nsyms = r_.u32(header + 12);
      if (!machine || !nsec || !optsize || !symptr || !nsyms) return std::unexpected("Invalid COFF file header size or alignment");
      l.machine = *machine;
      l.section_count = *nsec;
      l.section_table = header + 20 + *optsize;
      l.symbol_table = *symptr;
      l.symbol_count = *nsyms;
      if (image) {
        std::uint64_t opt = header + 20;
        auto entry = r_.u32(opt + 16);
        std::optional<std::uint64_t> base;
        if (out.is_64) {
          base = r_.u64(opt + 24);
        } else if (auto b32 = r_.u32(opt + 28)) {
          base = *b32;
        }
        auto hsize = r_.u32(opt + 60);
        std::uint64_t dirs_at = opt + (out.is_64 ? 112 : 96);
        auto dir_count = r_.u32(opt + (out.is_64 ? 108 : 92));
        if (!entry || !base || !hsize || !dir_count) return std::unexpected("Invalid PE optional header size");
        image_base = *base;
        headers_size = *hsize;
        out.entry = image_base + *entry;
        auto directory = [&](std::uint32_t i) {
          DataDirectory d;
          std::uint64_t at = dirs_at + std::uint64_t{i} * 8;
          if (i < *dir_count && at + 8 <= l.section_table) {
            d.rva = r_.u32(at).value_or(0);
            d.size = r_.u32(at + 4).value_or(0);
          }
          return d;
        };
        export_dir = directory(0);
        import_dir = directory(1);
        delay_dir = directory(13);
      }
    }
    out.machine = l.machine;
    // Only the big-endian PowerPC object flavour is not little-endian.
    out.big_endian = !image && l.machine == 0x01F2;

    if (!r_.has(l.section_table, std::uint64_t{l.section_count} * SECTION_HEADER_SIZE))
      return std::unexpected("Invalid COFF/PE section headers");
    read_string_table(l, image);
    if (!image && l.symbol_table != 0 && !symbols_fit(l))
      return std::unexpected("Invalid COFF symbol table offset or size");

    std::vector<PeSectionMap> maps;
    for (std::uint32_t i = 0; i < l.section_count; ++i) {
      std::uint64_t at = l.section_table + std::uint64_t{i} * SECTION_HEADER_SIZE;
      RawSection s{*r_.u32(at + 8), *r_.u32(at + 12), *r_.u32(at + 16), *r_.u32(at + 20), *r_.u32(at + 36)};
      raw_sections_.push_back(s);
      Section sec;
      sec.name = section_name(*r_.slice(at, 8));
      sec.address = image ? image_base + s.virtual_address : s.virtual_address;
      sec.size = image ? s.virtual_size : s.raw_size;
      sec.kind = coff_section_kind(s.characteristics);
      out.sections.push_back(sec);
      maps.push_back({s.virtual_address, s.raw_size, s.raw_offset});
    }

    if (l.symbol_table != 0 && symbols_fit(l)) read_symbols(l, image, image_base, out);

    if (image) {
      PeImage pe(data_, image_base, headers_size, std::move(maps));
      out.pe_imports = read_pe_imports(pe, out.is_64, import_dir, delay_dir);
      out.exports = read_pe_exports(pe, export_dir);
    } else {
      out.exports = std::vector<Export>{};
      out.pe_imports = std::vector<PeImport>{};
    }
    return out;
  }

 private:
  bool symbols_fit(const Layout& l) const { return r_.has(l.symbol_table, std::uint64_t{l.symbol_count} * l.symbol_size); }

  void read_string_table(const Layout& l, bool image) {
    if (l.symbol_table == 0 || !symbols_fit(l)) return;
    std::uint64_t at = l.symbol_table + std::uint64_t{l.symbol_count} * l.symbol_size;
    auto size = r_.u32(at);
    if (!size) return;
    auto strings = r_.slice(at, *size);
    if (!strings) strings = r_.slice(at, data_.size() - at);
    strings_ = ByteReader(*strings, false);
  }

  MaybeName string_at(std::uint64_t offset) const {
    if (offset < 4) return std::nullopt;  // the size field, not a string
    return utf8_or_none(strings_.c_string(offset));
  }

  MaybeName section_name(Bytes raw) const {
    std::size_t len = 0;
    while (len < raw.size() && raw[len] != 0) ++len;
    std::string_view short_name = as_chars(raw.first(len));
    if (auto off = long_name_offset(short_name)) return string_at(*off);
    return utf8_or_none(raw.first(len));
  }

  void read_symbols(const Layout& l, bool image, std::uint64_t image_base, ObjectFile& out) {
    const bool big = l.symbol_size == 20;
    for (std::uint64_t i = 0; i < l.symbol_count;) {
      std::uint64_t at = l.symbol_table + i * l.symbol_size;
      Bytes name_raw = *r_.slice(at, 8);
      std::uint32_t value = *r_.u32(at + 8);
      std::int32_t secnum = big ? static_cast<std::int32_t>(*r_.u32(at + 12)) : static_cast<std::int16_t>(*r_.u16(at + 12));
      std::uint64_t rest = at + (big ? 16 : 14);
      std::uint16_t type = *r_.u16(rest);
      std::uint8_t storage = *r_.u8(rest + 2);
      std::uint8_t aux = *r_.u8(rest + 3);
      i += 1 + std::uint64_t{aux};

      Symbol s;
      if (*r_.u32(at) == 0) {
        s.name = string_at(*r_.u32(at + 4));
      } else {
        std::size_t len = 0;
        while (len < 8 && name_raw[len] != 0) ++len;
        s.name = utf8_or_none(name_raw.first(len));
      }

      const RawSection* section = secnum > 0 && static_cast<std::size_t>(secnum) <= raw_sections_.size()
                                      ? &raw_sections_[static_cast<std::size_t>(secnum) - 1]
                                      : nullptr;
      if (secnum == 0) {
        s.section = (value != 0 && storage == SYM_CLASS_EXTERNAL) ? SymbolSectionKind::common : SymbolSectionKind::undefined;
      } else if (secnum == -1) {
        s.section = SymbolSectionKind::absolute;
        s.address = value;
      } else if (secnum == -2) {
        s.section = SymbolSectionKind::none;
      } else {
        s.section = SymbolSectionKind::section;
        s.address = (image ? image_base : 0) + (section ? section->virtual_address : 0) + value;
      }

      bool code_section = section && coff_section_kind(section->characteristics) == SectionKind::text;
      SymbolKind derived = (((type >> 4) & 0x3) == SYM_DTYPE_FUNCTION || code_section) ? SymbolKind::text : SymbolKind::data;
      switch (storage) {
        case SYM_CLASS_STATIC:
          // A section definition: not a function, with an auxiliary section
          // record. Its value is 0 in objects, an offset in linked images.
          s.kind = (aux > 0 && secnum > 0 && ((type >> 4) & 0x3) != SYM_DTYPE_FUNCTION) ? SymbolKind::section : derived;
          break;
        case SYM_CLASS_EXTERNAL:
        case SYM_CLASS_WEAK_EXTERNAL: s.kind = derived; break;
        case SYM_CLASS_SECTION: s.kind = SymbolKind::section; break;
        case SYM_CLASS_FILE: s.kind = SymbolKind::file; break;
        case SYM_CLASS_LABEL: s.kind = SymbolKind::label; break;
        default: s.kind = SymbolKind::unknown;
      }
      if (s.kind == SymbolKind::section || s.kind == SymbolKind::file) continue;
      if (!image && s.section == SymbolSectionKind::undefined) out.undefined_imports.push_back(s);
      out.symbols.push_back(s);
    }
  }

  Bytes data_;
  ByteReader r_;
  FileKind kind_;
  ByteReader strings_{Bytes{}, false};
  std::vector<RawSection> raw_sections_;
};

}  // namespace

std::expected<ObjectFile, std::string> read_coff(Bytes data, FileKind kind) { return CoffReader(data, kind).read(); }

}  // namespace brindle::exe
