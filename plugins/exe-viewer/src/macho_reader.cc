#include "macho_reader.h"

#include <llvm/BinaryFormat/MachO.h>
#include <llvm/Object/MachO.h>

#include <cstring>

#include "macho_exports.h"
#include "text.h"

namespace brindle::exe {

namespace {

namespace macho = llvm::MachO;

constexpr std::uint32_t SG_READ_ONLY = 0x10;
constexpr std::uint32_t MAX_KNOWN_SECTION_TYPE = 22;

std::string take_error(llvm::Error e) { return llvm::toString(std::move(e)); }

std::string_view fixed_name(const char* raw) {
  std::size_t len = 0;
  while (len < 16 && raw[len] != 0) ++len;
  return {raw, len};
}

struct RawSection {
  std::string_view segment;
  std::uint32_t flags;
  std::uint32_t segment_initprot;
  std::uint32_t segment_flags;
};

SectionKind macho_section_kind(const RawSection& s, bool object_file) {
  if (s.segment == "__DWARF") return SectionKind::debug;
  if (s.flags & macho::S_ATTR_DEBUG) return SectionKind::unknown;
  std::uint32_t type = s.flags & macho::SECTION_TYPE;
  switch (type) {
    case macho::S_ZEROFILL:
    case macho::S_GB_ZEROFILL: return SectionKind::uninitialized_data;
    case macho::S_CSTRING_LITERALS: return SectionKind::read_only_string;
    case macho::S_4BYTE_LITERALS:
    case macho::S_8BYTE_LITERALS:
    case macho::S_16BYTE_LITERALS:
    case macho::S_LITERAL_POINTERS: return SectionKind::read_only_data;
    case macho::S_SYMBOL_STUBS: return SectionKind::text;
    case macho::S_DTRACE_DOF: return SectionKind::unknown;
    case macho::S_THREAD_LOCAL_REGULAR: return SectionKind::tls;
    case macho::S_THREAD_LOCAL_ZEROFILL: return SectionKind::uninitialized_tls;
    case macho::S_THREAD_LOCAL_VARIABLES: return SectionKind::tls_variables;
  }
  if (type > MAX_KNOWN_SECTION_TYPE) return SectionKind::unknown;
  if (s.flags & (macho::S_ATTR_PURE_INSTRUCTIONS | macho::S_ATTR_SOME_INSTRUCTIONS)) return SectionKind::text;
  if (object_file) return s.segment == "__TEXT" ? SectionKind::read_only_data : SectionKind::data;
  bool writable = s.segment_initprot & macho::VM_PROT_WRITE;
  if (!writable || (s.segment_flags & SG_READ_ONLY)) return SectionKind::read_only_data;
  return SectionKind::data;
}

class MachOReader {
 public:
  MachOReader(const llvm::object::MachOObjectFile& file, Bytes data, FileKind kind)
      : file_(file), data_(data), kind_(kind) {}

  std::expected<ObjectFile, std::string> read() {
    ObjectFile out;
    out.kind = kind_;
    out.data = data_;
    out.is_64 = file_.is64Bit();
    out.big_endian = !file_.isLittleEndian();
    out.machine = out.is_64 ? file_.getHeader64().cputype : file_.getHeader().cputype;
    const bool object_file = (out.is_64 ? file_.getHeader64().filetype : file_.getHeader().filetype) == macho::MH_OBJECT;

    std::optional<std::uint64_t> entry_offset;
    for (const auto& lc : file_.load_commands()) {
      switch (lc.C.cmd) {
        case macho::LC_SEGMENT: {
          auto seg = file_.getSegmentLoadCommand(lc);
          note_text_segment(seg.segname, seg.vmaddr);
          for (unsigned i = 0; i < seg.nsects; ++i) {
            auto s = file_.getSection(lc, i);
            const char* header = lc.Ptr + sizeof(macho::segment_command) + i * sizeof(macho::section);
            add_section(out, header, s.addr, s.size, s.flags, seg.initprot, seg.flags, object_file);
          }
          break;
        }
        case macho::LC_SEGMENT_64: {
          auto seg = file_.getSegment64LoadCommand(lc);
          note_text_segment(seg.segname, seg.vmaddr);
          for (unsigned i = 0; i < seg.nsects; ++i) {
            auto s = file_.getSection64(lc, i);
            const char* header = lc.Ptr + sizeof(macho::segment_command_64) + i * sizeof(macho::section_64);
            add_section(out, header, s.addr, s.size, s.flags, seg.initprot, seg.flags, object_file);
          }
          break;
        }
        case macho::LC_DYLD_INFO:
        case macho::LC_DYLD_INFO_ONLY: {
          auto info = file_.getDyldInfoLoadCommand(lc);
          if (info.export_size != 0) trie_ = {info.export_off, info.export_size};
          break;
        }
        case macho::LC_DYLD_EXPORTS_TRIE: {
          auto trie = file_.getLinkeditDataLoadCommand(lc);
          if (trie.datasize != 0) trie_ = {trie.dataoff, trie.datasize};
          break;
        }
        case macho::LC_MAIN:
          entry_offset = file_.getEntryPointCommand(lc).entryoff;
          break;
        case macho::LC_LOAD_DYLIB:
        case macho::LC_LOAD_WEAK_DYLIB:
        case macho::LC_REEXPORT_DYLIB:
        case macho::LC_LAZY_LOAD_DYLIB:
        case macho::LC_LOAD_UPWARD_DYLIB: {
          auto dylib = file_.getDylibIDLoadCommand(lc);
          std::string_view name;
          if (dylib.dylib.name < lc.C.cmdsize) {
            const char* p = lc.Ptr + dylib.dylib.name;
            name = std::string_view(p, strnlen(p, lc.C.cmdsize - dylib.dylib.name));
          }
          libraries_.push_back(name);
          break;
        }
      }
    }
    if (entry_offset) out.entry = text_vmaddr_ + *entry_offset;

    read_symbols(out);
    out.exports = read_exports(out);
    out.pe_imports = std::vector<PeImport>{};
    return out;
  }

 private:
  void note_text_segment(const char* name, std::uint64_t vmaddr) {
    if (fixed_name(name) == "__TEXT") text_vmaddr_ = vmaddr;
  }

  // `header` points at the section header inside the file: its first 16
  // bytes are the section name, the next 16 the segment name.
  void add_section(ObjectFile& out, const char* header, std::uint64_t addr, std::uint64_t size, std::uint32_t flags,
                   std::uint32_t initprot, std::uint32_t seg_flags, bool object_file) {
    Section sec;
    std::string_view name = fixed_name(header);
    if (is_valid_utf8(name)) sec.name = name;
    sec.address = addr;
    sec.size = size;
    RawSection raw{fixed_name(header + 16), flags, initprot, seg_flags};
    sec.kind = macho_section_kind(raw, object_file);
    out.sections.push_back(sec);
  }

  void read_symbols(ObjectFile& out) {
    // Without LC_SYMTAB LLVM hands back an empty command (nsyms 0).
    auto symtab = file_.getSymtabLoadCommand();
    ByteReader r(data_, out.big_endian);
    auto strings = r.slice(symtab.stroff, symtab.strsize);
    ByteReader str(strings.value_or(Bytes{}), out.big_endian);
    const std::size_t entry = out.is_64 ? 16 : 12;
    for (std::uint32_t i = 0; i < symtab.nsyms; ++i) {
      std::uint64_t at = symtab.symoff + std::uint64_t{i} * entry;
      auto strx = r.u32(at);
      auto type = r.u8(at + 4);
      auto sect = r.u8(at + 5);
      auto value = r.word(at + 8, out.is_64);
      if (!strx || !type || !sect || !value) break;
      Symbol s;
      if (auto name = str.c_string(*strx); name && *strx < str.size() && is_valid_utf8(as_chars(*name)))
        s.name = as_chars(*name);
      if (*type & macho::N_STAB) {
        s.section = *sect ? SymbolSectionKind::section : SymbolSectionKind::none;
        s.kind = SymbolKind::unknown;
        s.address = *value;
      } else {
        switch (*type & macho::N_TYPE) {
          case macho::N_UNDF:
            if (*value != 0 && (*type & macho::N_EXT)) {
              s.section = SymbolSectionKind::common;
              s.kind = SymbolKind::data;
            } else {
              s.section = SymbolSectionKind::undefined;
            }
            break;
          case macho::N_ABS:
            s.section = SymbolSectionKind::absolute;
            s.address = *value;
            break;
          case macho::N_SECT: {
            s.section = SymbolSectionKind::section;
            s.address = *value;
            bool code = *sect >= 1 && *sect <= out.sections.size() && out.sections[*sect - 1].kind == SectionKind::text;
            s.kind = code ? SymbolKind::text : SymbolKind::data;
            break;
          }
          default:
            s.section = SymbolSectionKind::unknown;
        }
      }
      if (s.section == SymbolSectionKind::undefined) out.undefined_imports.push_back(s);
      out.symbols.push_back(s);
    }
  }

  std::expected<std::vector<Export>, std::string> read_exports(ObjectFile& out) {
    std::vector<Export> list;
    if (!trie_) return list;
    auto bytes = ByteReader(data_, false).slice(trie_->first, trie_->second);
    if (!bytes) return std::unexpected("exports trie lies outside the file");
    auto entries = read_exports_trie(*bytes);
    if (!entries) return std::unexpected(entries.error());
    for (auto& e : *entries) {
      out.owned_names.push_back(std::move(e.name));
      std::string_view name = out.owned_names.back();
      ExportTarget target;
      if (e.flags & EXPORT_REEXPORT) {
        std::string_view library;
        if (e.other >= 1 && e.other <= libraries_.size()) library = libraries_[e.other - 1];
        std::string_view imported = name;
        if (e.imported) {
          out.owned_names.push_back(std::move(*e.imported));
          imported = out.owned_names.back();
        }
        target = target::Reexport{library, imported};
      } else if (e.flags & EXPORT_STUB_AND_RESOLVER) {
        target = target::Resolver{text_vmaddr_ + e.other, text_vmaddr_ + e.address};
      } else {
        switch (e.flags & EXPORT_KIND_MASK) {
          case EXPORT_KIND_THREAD_LOCAL: target = target::ThreadLocal{e.address}; break;
          case EXPORT_KIND_ABSOLUTE: target = target::Absolute{e.address}; break;
          default: target = target::Address{text_vmaddr_ + e.address};
        }
      }
      list.push_back({name, target});
    }
    return list;
  }

  const llvm::object::MachOObjectFile& file_;
  Bytes data_;
  FileKind kind_;
  std::uint64_t text_vmaddr_ = 0;
  std::vector<std::string_view> libraries_;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> trie_;  // file offset, size
};

}  // namespace

std::expected<ObjectFile, std::string> read_macho(Bytes data, FileKind kind) {
  // The magic's byte order: FE ED FA CE/CF is big-endian, CE/CF FA ED FE little.
  bool little = data[0] == 0xCE || data[0] == 0xCF;
  llvm::MemoryBufferRef buffer(llvm::StringRef(as_chars(data)), "");
  auto file = llvm::object::MachOObjectFile::create(buffer, little, kind == FileKind::macho64);
  if (!file) return std::unexpected(take_error(file.takeError()));
  return MachOReader(**file, data, kind).read();
}

}  // namespace brindle::exe
