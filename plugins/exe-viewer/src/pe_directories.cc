#include "pe_directories.h"

namespace brindle::exe {

namespace {

constexpr std::size_t IMPORT_DESCRIPTOR_SIZE = 20;
constexpr std::size_t DELAY_DESCRIPTOR_SIZE = 32;
constexpr std::size_t EXPORT_DIRECTORY_SIZE = 40;
constexpr std::uint32_t DELAY_ATTRIBUTE_RVA = 1;

std::string_view chars(Bytes b) { return as_chars(b); }

// Walks one import lookup (or delay name) table and appends its entries.
void read_thunks(const PeImage& image, bool pe64, std::uint64_t table_rva, std::string_view library,
                 std::vector<PeImport>& out) {
  auto table = image.at(table_rva);
  if (!table) return;
  ByteReader r(*table, false);
  const unsigned width = pe64 ? 8 : 4;
  const std::uint64_t ordinal_flag = pe64 ? (std::uint64_t{1} << 63) : (std::uint64_t{1} << 31);
  for (std::uint64_t off = 0;; off += width) {
    std::optional<std::uint64_t> entry = r.word(off, pe64);
    if (!entry || *entry == 0) return;
    if (*entry & ordinal_flag) {
      out.push_back({library, static_cast<std::uint16_t>(*entry & 0xFFFF)});
      continue;
    }
    // Hint (2 bytes), then the name.
    auto name = image.c_string((*entry & 0x7FFFFFFF) + 2);
    if (!name) continue;
    out.push_back({library, chars(*name)});
  }
}

}  // namespace

std::expected<std::vector<PeImport>, std::string> read_pe_imports(const PeImage& image, bool pe64,
                                                                  DataDirectory imports, DataDirectory delay_imports) {
  std::vector<PeImport> out;
  if (imports.rva != 0) {
    auto dir = image.at(imports.rva);
    if (!dir) return std::unexpected("Invalid PE import directory address");
    ByteReader r(*dir, false);
    for (std::uint64_t off = 0; r.has(off, IMPORT_DESCRIPTOR_SIZE); off += IMPORT_DESCRIPTOR_SIZE) {
      std::uint32_t lookup = *r.u32(off), name_rva = *r.u32(off + 12), iat = *r.u32(off + 16);
      if (lookup == 0 && name_rva == 0 && iat == 0) break;
      auto library = image.c_string(name_rva);
      if (!library) continue;
      read_thunks(image, pe64, lookup != 0 ? lookup : iat, chars(*library), out);
    }
  }
  if (delay_imports.rva != 0) {
    auto dir = image.at(delay_imports.rva);
    if (!dir) return std::unexpected("Invalid PE delay-load import directory address");
    ByteReader r(*dir, false);
    for (std::uint64_t off = 0; r.has(off, DELAY_DESCRIPTOR_SIZE); off += DELAY_DESCRIPTOR_SIZE) {
      std::uint32_t attributes = *r.u32(off), name_rva = *r.u32(off + 4), names = *r.u32(off + 16);
      if (name_rva == 0) break;
      // Version 1 descriptors hold virtual addresses instead of RVAs.
      std::uint64_t base = (attributes & DELAY_ATTRIBUTE_RVA) ? 0 : image.image_base();
      auto library = image.c_string(name_rva - base);
      if (!library) continue;
      read_thunks(image, pe64, names - base, chars(*library), out);
    }
  }
  return out;
}

std::expected<std::vector<Export>, std::string> read_pe_exports(const PeImage& image, DataDirectory exports) {
  std::vector<Export> out;
  if (exports.rva == 0) return out;
  auto dir = image.at(exports.rva);
  if (!dir || dir->size() < EXPORT_DIRECTORY_SIZE) return std::unexpected("Invalid PE export directory address");
  ByteReader d(*dir, false);
  std::uint32_t base = *d.u32(16), function_count = *d.u32(20), name_count = *d.u32(24);
  std::uint32_t functions_rva = *d.u32(28), names_rva = *d.u32(32), ordinals_rva = *d.u32(36);

  // Every table must lie in the file before anything is sized from its count.
  auto table = [&](std::uint32_t rva, std::uint64_t bytes) -> std::optional<ByteReader> {
    if (bytes == 0) return ByteReader(Bytes{}, false);
    auto b = image.at(rva);
    if (!b || b->size() < bytes) return std::nullopt;
    return ByteReader(b->first(bytes), false);
  };
  auto functions = table(functions_rva, std::uint64_t{function_count} * 4);
  if (!functions) return std::unexpected("Invalid PE export address table");
  auto names = table(names_rva, std::uint64_t{name_count} * 4);
  auto ordinals = table(ordinals_rva, std::uint64_t{name_count} * 2);
  if (!names || !ordinals) return std::unexpected("Invalid PE export name table");

  auto target_of = [&](std::uint32_t rva) -> ExportTarget {
    if (rva >= exports.rva && rva - exports.rva < exports.size) {
      // A forwarder: "LIBRARY.name" or "LIBRARY.#ordinal".
      std::string_view text = image.c_string(rva) ? chars(*image.c_string(rva)) : std::string_view{};
      auto dot = text.find('.');
      std::string_view library = text.substr(0, dot);
      std::string_view rest = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
      if (rest.size() > 1 && rest[0] == '#') {
        std::uint32_t n = 0;
        bool digits = rest.size() <= 6;
        for (char c : rest.substr(1)) {
          if (c < '0' || c > '9') digits = false;
          n = n * 10 + static_cast<std::uint32_t>(c - '0');
        }
        if (digits && n <= 0xFFFF) return target::Reexport{library, static_cast<std::uint16_t>(n)};
      }
      return target::Reexport{library, rest};
    }
    return target::Address{image.image_base() + rva};
  };

  std::vector<bool> named(function_count, false);
  for (std::uint32_t i = 0; i < name_count; ++i) {
    std::uint16_t index = *ordinals->u16(std::uint64_t{i} * 2);
    auto name = image.c_string(*names->u32(std::uint64_t{i} * 4));
    if (!name || index >= function_count) continue;
    named[index] = true;
    out.push_back({chars(*name), target_of(*functions->u32(std::uint64_t{index} * 4))});
  }
  for (std::uint32_t index = 0; index < function_count; ++index) {
    std::uint32_t rva = *functions->u32(std::uint64_t{index} * 4);
    if (rva == 0 || named[index]) continue;
    out.push_back({static_cast<std::uint16_t>(base + index), target_of(rva)});
  }
  return out;
}

}  // namespace brindle::exe
