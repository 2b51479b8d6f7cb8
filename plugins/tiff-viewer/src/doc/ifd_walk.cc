#include "doc/ifd_walk.h"

#include <array>
#include <unordered_set>

namespace brindle::tiff {
namespace {

struct Format {
  bool little = true;
  bool big_tiff = false;
};

std::uint64_t get(const Format& f, const std::uint8_t* p, int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(f.little ? p[i] : p[n - 1 - i]) << (8 * i);
  return v;
}

bool read_at(ByteStream& s, std::uint64_t at, std::span<std::uint8_t> out) {
  return at <= static_cast<std::uint64_t>(INT64_MAX) && s.seek(static_cast<std::int64_t>(at), SeekFrom::start) &&
         read_exact(s, out);
}

// A single inline SHORT, LONG or LONG8 value.
std::optional<std::uint64_t> inline_value(const Format& f, const std::uint8_t* entry) {
  const std::uint64_t type = get(f, entry + 2, 2);
  const std::uint64_t count = f.big_tiff ? get(f, entry + 4, 8) : get(f, entry + 4, 4);
  if (count != 1) return std::nullopt;
  const std::uint8_t* value = entry + (f.big_tiff ? 12 : 8);
  if (type == 3) return get(f, value, 2);
  if (type == 4) return get(f, value, 4);
  if (type == 16 && f.big_tiff) return get(f, value, 8);
  return std::nullopt;
}

}  // namespace

std::vector<RawIfd> walk_ifds(ByteStream& stream, std::uint64_t first) {
  std::vector<RawIfd> ifds;
  std::array<std::uint8_t, 4> head{};
  if (!read_at(stream, 0, head)) return ifds;
  Format f;
  f.little = head[0] == 'I';
  f.big_tiff = get(f, head.data() + 2, 2) == 43;
  const int count_size = f.big_tiff ? 8 : 2;
  const std::uint64_t entry_size = f.big_tiff ? 20 : 12;
  const int offset_size = f.big_tiff ? 8 : 4;

  std::unordered_set<std::uint64_t> seen;
  std::vector<std::uint8_t> entries;
  for (std::uint64_t at = first; at != 0 && ifds.size() < MAX_WALKED_IFDS && seen.insert(at).second;) {
    std::array<std::uint8_t, 8> buf{};
    if (!read_at(stream, at, std::span(buf.data(), static_cast<std::size_t>(count_size)))) break;
    const std::uint64_t count = get(f, buf.data(), count_size);
    // An IFD cannot be longer than the file that holds it.
    if (count > stream.size() / entry_size) break;
    entries.resize(static_cast<std::size_t>(count * entry_size + offset_size));
    const bool whole = read_at(stream, at + count_size, entries);
    if (!whole && !read_at(stream, at + count_size, std::span(entries.data(), entries.size() - offset_size))) break;

    RawIfd ifd{at, 0, 0, std::nullopt};
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint8_t* e = entries.data() + i * entry_size;
      switch (get(f, e, 2)) {
        case 254: ifd.subfile_type = inline_value(f, e); break;
        case 256: ifd.width = inline_value(f, e).value_or(0); break;
        case 257: ifd.height = inline_value(f, e).value_or(0); break;
        default: break;
      }
    }
    ifds.push_back(ifd);
    if (!whole) break;  // the next-IFD offset is cut off
    at = get(f, entries.data() + count * entry_size, offset_size);
  }
  return ifds;
}

std::optional<std::uint64_t> first_ifd_offset(ByteStream& stream) {
  std::array<std::uint8_t, 16> head{};
  if (!read_at(stream, 0, std::span(head.data(), 8))) return std::nullopt;
  if (!((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))) return std::nullopt;
  Format f;
  f.little = head[0] == 'I';
  const std::uint64_t magic = get(f, head.data() + 2, 2);
  if (magic == 42) return get(f, head.data() + 4, 4);
  if (magic == 43 && read_at(stream, 0, head)) return get(f, head.data() + 8, 8);
  return std::nullopt;
}

}  // namespace brindle::tiff
