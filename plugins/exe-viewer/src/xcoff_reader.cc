#include "xcoff_reader.h"

#include "text.h"

namespace brindle::exe {

namespace {

constexpr std::uint32_t STYP_DWARF = 0x0010;
constexpr std::uint32_t STYP_TEXT = 0x0020;
constexpr std::uint32_t STYP_DATA = 0x0040;
constexpr std::uint32_t STYP_BSS = 0x0080;
constexpr std::uint32_t STYP_TDATA = 0x0400;
constexpr std::uint32_t STYP_TBSS = 0x0800;
constexpr std::uint32_t STYP_LOADER = 0x1000;
constexpr std::uint32_t STYP_DEBUG = 0x2000;
constexpr std::uint32_t STYP_OVRFLO = 0x8000;

constexpr std::uint8_t C_EXT = 2;
constexpr std::uint8_t C_HIDEXT = 107;
constexpr std::uint8_t C_WEAKEXT = 111;
constexpr std::uint8_t C_FILE = 103;

constexpr std::uint8_t XTY_CM = 3;
constexpr std::uint8_t XMC_PR = 0;
constexpr std::uint8_t XMC_GL = 6;
constexpr std::uint8_t XMC_TL = 20;
constexpr std::uint8_t XMC_UL = 21;

constexpr std::size_t SYMBOL_SIZE = 18;

SectionKind xcoff_section_kind(std::uint32_t flags) {
  if (flags & STYP_TEXT) return SectionKind::text;
  if (flags & STYP_DATA) return SectionKind::data;
  if (flags & STYP_TDATA) return SectionKind::tls;
  if (flags & STYP_BSS) return SectionKind::uninitialized_data;
  if (flags & STYP_TBSS) return SectionKind::uninitialized_tls;
  if (flags & (STYP_DWARF | STYP_DEBUG)) return SectionKind::debug;
  if (flags & (STYP_LOADER | STYP_OVRFLO)) return SectionKind::metadata;
  return SectionKind::unknown;
}

MaybeName utf8_or_none(std::optional<Bytes> b) {
  if (!b || !is_valid_utf8(as_chars(*b))) return std::nullopt;
  return as_chars(*b);
}

MaybeName fixed_name(Bytes raw) {
  std::size_t len = 0;
  while (len < raw.size() && raw[len] != 0) ++len;
  return utf8_or_none(raw.first(len));
}

}  // namespace

std::expected<ObjectFile, std::string> read_xcoff(Bytes data, FileKind kind) {
  ByteReader r(data, true);
  ObjectFile out;
  out.kind = kind;
  out.data = data;
  out.is_64 = kind == FileKind::xcoff64;
  out.big_endian = true;
  out.machine = *r.u16(0);
  out.exports = std::vector<Export>{};
  out.pe_imports = std::vector<PeImport>{};

  const std::size_t header_size = out.is_64 ? 24 : 20;
  std::uint16_t section_count = *r.u16(2);
  std::uint64_t symptr = r.word(8, out.is_64).value_or(0);
  std::uint16_t aux_size = r.u16(out.is_64 ? 16 : 16).value_or(0);
  std::uint32_t symbol_count = r.u32(out.is_64 ? 20 : 12).value_or(0);
  if (!r.has(0, header_size)) return std::unexpected("XCOFF file header is truncated");

  // The entry point (a function descriptor address) lives in the
  // auxiliary header, which object files usually leave out.
  const std::uint64_t entry_at = out.is_64 ? 80 : 16;
  if (aux_size >= entry_at + (out.is_64 ? 8 : 4)) {
    auto e = r.word(header_size + entry_at, out.is_64);
    if (e) out.entry = *e;
  }

  const std::size_t section_size = out.is_64 ? 72 : 40;
  std::uint64_t sections_at = header_size + aux_size;
  if (!r.has(sections_at, std::uint64_t{section_count} * section_size))
    return std::unexpected("XCOFF section headers lie outside the file");
  std::vector<SectionKind> kinds;
  for (std::uint16_t i = 0; i < section_count; ++i) {
    std::uint64_t at = sections_at + std::uint64_t{i} * section_size;
    Section s;
    s.name = fixed_name(*r.slice(at, 8));
    s.address = out.is_64 ? *r.u64(at + 8) : *r.u32(at + 8);
    s.size = out.is_64 ? *r.u64(at + 24) : *r.u32(at + 16);
    std::uint32_t flags = out.is_64 ? *r.u32(at + 64) : *r.u32(at + 36);
    s.kind = xcoff_section_kind(flags & 0xFFFF);
    kinds.push_back(s.kind);
    out.sections.push_back(s);
  }

  if (symptr == 0 || symbol_count == 0) return out;
  if (!r.has(symptr, std::uint64_t{symbol_count} * SYMBOL_SIZE))
    return std::unexpected("XCOFF symbol table lies outside the file");
  std::uint64_t strings_at = symptr + std::uint64_t{symbol_count} * SYMBOL_SIZE;
  ByteReader strings(Bytes{}, true);
  if (auto size = r.u32(strings_at)) strings = ByteReader(r.slice(strings_at, *size).value_or(Bytes{}), true);

  for (std::uint64_t i = 0; i < symbol_count;) {
    std::uint64_t at = symptr + i * SYMBOL_SIZE;
    std::int16_t secnum = static_cast<std::int16_t>(*r.u16(at + 12));
    std::uint8_t storage = *r.u8(at + 16);
    std::uint8_t aux = *r.u8(at + 17);
    Symbol s;
    std::uint64_t value;
    if (out.is_64) {
      value = *r.u64(at);
      std::uint32_t offset = *r.u32(at + 8);
      if (offset >= 4) s.name = utf8_or_none(strings.c_string(offset));
    } else {
      value = *r.u32(at + 8);
      if (*r.u32(at) == 0) {
        std::uint32_t offset = *r.u32(at + 4);
        if (offset >= 4) s.name = utf8_or_none(strings.c_string(offset));
      } else {
        s.name = fixed_name(*r.slice(at, 8));
      }
    }
    // The csect auxiliary entry is the last one of the symbol.
    std::optional<std::uint8_t> smtyp, smclas;
    if (aux > 0 && (storage == C_EXT || storage == C_HIDEXT || storage == C_WEAKEXT)) {
      std::uint64_t csect = symptr + (i + aux) * SYMBOL_SIZE;
      smtyp = r.u8(csect + 10);
      smclas = r.u8(csect + 11);
    }
    i += 1 + std::uint64_t{aux};

    if (secnum == 0) {
      s.section = SymbolSectionKind::undefined;
    } else if (secnum == -1) {
      s.section = SymbolSectionKind::absolute;
    } else if (secnum == -2) {
      s.section = SymbolSectionKind::none;
    } else if (secnum > 0) {
      s.section = smtyp && (*smtyp & 7) == XTY_CM ? SymbolSectionKind::common : SymbolSectionKind::section;
    }
    if (storage == C_FILE) continue;
    if (smclas) {
      if (*smclas == XMC_PR || *smclas == XMC_GL) s.kind = SymbolKind::text;
      else if (*smclas == XMC_TL || *smclas == XMC_UL) s.kind = SymbolKind::tls;
      else s.kind = SymbolKind::data;
    } else if (secnum > 0 && static_cast<std::size_t>(secnum) <= kinds.size()) {
      s.kind = kinds[secnum - 1] == SectionKind::text ? SymbolKind::text : SymbolKind::unknown;
    }
    if (s.section != SymbolSectionKind::undefined) s.address = value;
    if (s.section == SymbolSectionKind::undefined) out.undefined_imports.push_back(s);
    out.symbols.push_back(s);
  }
  return out;
}

}  // namespace brindle::exe
