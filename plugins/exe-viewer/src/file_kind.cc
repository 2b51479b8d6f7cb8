#include "file_kind.h"

#include <algorithm>
#include <array>

namespace brindle::exe {

namespace {

// {D1BAA1C7-BAEE-4BA9-AF20-FAF66AA4DCB8} as stored in the file.
constexpr std::array<std::uint8_t, 16> BIGOBJ_CLASS_ID = {0xC7, 0xA1, 0xBA, 0xD1, 0xEE, 0xBA, 0xA9, 0x4B,
                                                          0xAF, 0x20, 0xFA, 0xF6, 0x6A, 0xA4, 0xDC, 0xB8};

std::expected<FileKind, std::string> fail(std::string_view text) { return std::unexpected(std::string(text)); }

// An MZ file is a PE image when e_lfanew leads to "PE\0\0" followed by a
// file header and an optional-header magic of PE32 or PE32+.
std::expected<FileKind, std::string> detect_pe(Bytes data) {
  ByteReader r(data, false);
  auto lfanew = r.u32(0x3C);
  if (!lfanew) return fail(ERR_UNKNOWN_DOS);
  std::uint64_t nt = *lfanew;
  auto sig = r.u32(nt);
  auto magic = r.u16(nt + 4 + 20);
  if (!sig || *sig != 0x00004550 || !magic) return fail(ERR_UNKNOWN_DOS);
  if (*magic == 0x10B) return FileKind::pe32;
  if (*magic == 0x20B) return FileKind::pe64;
  return fail(ERR_UNKNOWN_DOS);
}

}  // namespace

std::expected<FileKind, std::string> detect_file_kind(Bytes data) {
  if (data.size() < 16) return fail(ERR_NO_MAGIC);
  auto b = [&](std::size_t i) { return data[i]; };

  if (b(0) == 0x7F && b(1) == 'E' && b(2) == 'L' && b(3) == 'F') {
    if (b(4) == 1) return FileKind::elf32;
    if (b(4) == 2) return FileKind::elf64;
    return fail(ERR_UNKNOWN_MAGIC);
  }
  std::uint32_t be32 = (std::uint32_t{b(0)} << 24) | (std::uint32_t{b(1)} << 16) | (std::uint32_t{b(2)} << 8) | b(3);
  switch (be32) {
    case 0xFEEDFACE:
    case 0xCEFAEDFE:
      return FileKind::macho32;
    case 0xFEEDFACF:
    case 0xCFFAEDFE:
      return FileKind::macho64;
    case 0xCAFEBABE:  // universal binaries, 32- and 64-bit offsets
    case 0xCAFEBABF:
      return fail(ERR_UNSUPPORTED);
  }
  static constexpr std::string_view AR_MAGIC = "!<arch>\n";
  static constexpr std::string_view THIN_AR_MAGIC = "!<thin>\n";
  std::string_view head(reinterpret_cast<const char*>(data.data()), 8);
  if (head == AR_MAGIC || head == THIN_AR_MAGIC) return fail(ERR_UNSUPPORTED);

  if (b(0) == 'M' && b(1) == 'Z') return detect_pe(data);

  if (b(0) == 0 && b(1) == 0 && b(2) == 0xFF && b(3) == 0xFF) {
    // Anonymous object header: only the big-object class is supported.
    ByteReader r(data, false);
    auto version = r.u16(4);
    auto id = r.slice(12, 16);
    if (version && *version >= 2 && id && std::equal(id->begin(), id->end(), BIGOBJ_CLASS_ID.begin()))
      return FileKind::coff_big;
    return fail(ERR_UNKNOWN_ANON);
  }

  std::uint16_t be16 = static_cast<std::uint16_t>((b(0) << 8) | b(1));
  if (be16 == 0x01DF) return FileKind::xcoff32;
  if (be16 == 0x01F7) return FileKind::xcoff64;

  std::uint16_t le16 = static_cast<std::uint16_t>(b(0) | (b(1) << 8));
  switch (le16) {
    case 0x014C:  // i386
    case 0x8664:  // x86-64
    case 0x01C4:  // ARM Thumb-2
    case 0xAA64:  // ARM64
    case 0xA641:  // ARM64EC
    case 0x01F0:  // PowerPC
    case 0x01F1:  // PowerPC with FPU
    case 0x01F2:  // PowerPC big-endian
      return FileKind::coff;
  }
  return fail(ERR_UNKNOWN_MAGIC);
}

}  // namespace brindle::exe
