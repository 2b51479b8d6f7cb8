#include "doc/patched_reader.h"

#include <algorithm>
#include <array>
#include <unordered_set>

namespace brindle::tiff {
namespace {

struct Layout {
  bool little = true;
  bool big_tiff = false;
  std::uint64_t count_size() const { return big_tiff ? 8 : 2; }
  std::uint64_t entry_size() const { return big_tiff ? 20 : 12; }
  std::uint64_t value_at() const { return big_tiff ? 12 : 8; }
};

std::uint64_t get(const Layout& l, const std::uint8_t* p, int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) {
    const std::uint64_t byte = l.little ? p[i] : p[n - 1 - i];
    v |= byte << (8 * i);
  }
  return v;
}

std::expected<std::uint64_t, std::string> read_uint(ByteStream& s, const Layout& l, std::uint64_t at, int n) {
  if (at > static_cast<std::uint64_t>(INT64_MAX)) return std::unexpected(std::string("offset out of range"));
  if (auto r = s.seek(static_cast<std::int64_t>(at), SeekFrom::start); !r) return std::unexpected(r.error());
  std::array<std::uint8_t, 8> buf{};
  if (auto r = read_exact(s, std::span(buf.data(), static_cast<std::size_t>(n))); !r) {
    return std::unexpected(r.error());
  }
  return get(l, buf.data(), n);
}

}  // namespace

std::expected<std::vector<BytePatch>, std::string> scan_palette_patches(ByteStream& stream) {
  std::vector<BytePatch> patches;
  if (auto r = stream.seek(0, SeekFrom::start); !r) return std::unexpected(r.error());
  std::array<std::uint8_t, 16> header{};
  auto got = stream.read(header);
  if (!got) return std::unexpected(got.error());
  if (*got < 8) return patches;

  Layout l;
  if (header[0] == 'I' && header[1] == 'I') {
    l.little = true;
  } else if (header[0] == 'M' && header[1] == 'M') {
    l.little = false;
  } else {
    return patches;
  }
  const std::uint64_t magic = get(l, header.data() + 2, 2);
  std::uint64_t offset = 0;
  if (magic == 42) {
    offset = get(l, header.data() + 4, 4);
  } else if (magic == 43) {
    if (*got < 16) return patches;
    l.big_tiff = true;
    offset = get(l, header.data() + 8, 8);
  } else {
    return patches;
  }

  const int count_bytes = static_cast<int>(l.count_size());
  const int offset_bytes = l.big_tiff ? 8 : 4;
  std::unordered_set<std::uint64_t> visited;
  while (offset != 0) {
    if (!visited.insert(offset).second) break;
    if (visited.size() > MAX_SCANNED_IFDS) break;
    auto count = read_uint(stream, l, offset, count_bytes);
    if (!count) return std::unexpected(count.error());
    const std::uint64_t scanned = std::min(*count, MAX_SCANNED_ENTRIES);
    for (std::uint64_t i = 0; i < scanned; ++i) {
      const std::uint64_t entry = offset + l.count_size() + i * l.entry_size();
      if (auto r = stream.seek(static_cast<std::int64_t>(entry), SeekFrom::start); !r) return std::unexpected(r.error());
      std::array<std::uint8_t, 20> e{};
      if (auto r = read_exact(stream, std::span(e.data(), static_cast<std::size_t>(l.entry_size()))); !r) {
        return std::unexpected(r.error());
      }
      const std::uint64_t tag = get(l, e.data(), 2);
      const std::uint64_t type = get(l, e.data() + 2, 2);
      const std::uint64_t n = l.big_tiff ? get(l, e.data() + 4, 8) : get(l, e.data() + 4, 4);
      const std::uint64_t value = get(l, e.data() + l.value_at(), 2);
      if (tag == 262 && type == 3 && n == 1 && value == 3) {
        BytePatch p{entry + l.value_at(), {}};
        p.bytes = l.little ? std::vector<std::uint8_t>{1, 0} : std::vector<std::uint8_t>{0, 1};
        patches.push_back(std::move(p));
      }
    }
    // The full entry count places the next-IFD offset, even past the scanned
    // entries; an overflowing or unreadable offset just ends the chain.
    std::uint64_t next_at = 0;
    if (__builtin_mul_overflow(*count, l.entry_size(), &next_at) ||
        __builtin_add_overflow(next_at, offset + l.count_size(), &next_at)) {
      break;
    }
    auto next = read_uint(stream, l, next_at, offset_bytes);
    if (!next) break;
    offset = *next;
  }
  return patches;
}

PatchedReader::PatchedReader(std::unique_ptr<ByteStream> inner, std::vector<BytePatch> patches)
    : inner_(std::move(inner)), patches_(std::move(patches)), position_(inner_->position()) {}

std::expected<std::size_t, std::string> PatchedReader::read(std::span<std::uint8_t> out) {
  auto got = inner_->read(out);
  if (!got) return got;
  const std::uint64_t begin = position_;
  const std::uint64_t end = begin + *got;
  for (const auto& p : patches_) {
    const std::uint64_t p_end = p.offset + p.bytes.size();
    const std::uint64_t lo = std::max(begin, p.offset);
    const std::uint64_t hi = std::min(end, p_end);
    for (std::uint64_t at = lo; at < hi; ++at) out[at - begin] = p.bytes[at - p.offset];
  }
  position_ = end;
  return got;
}

std::expected<std::uint64_t, std::string> PatchedReader::seek(std::int64_t offset, SeekFrom from) {
  auto r = inner_->seek(offset, from);
  if (r) position_ = *r;
  return r;
}

}  // namespace brindle::tiff
