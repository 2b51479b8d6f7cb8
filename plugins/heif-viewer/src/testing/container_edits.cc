// Edits of HEIF containers made by heif-enc, for fixtures it cannot make.
//
// add_rotation attaches an `irot` property to the primary item. heif-enc
// has no option for it, so the rotated fixture is made by editing
// the container: the property goes at the end of `ipco`, its association
// into the primary item's `ipma` entry, and every enclosing box grows; item
// data stored after `meta` moves by the same amount, so `iloc` offsets are
// shifted to match.
#include <algorithm>
#include <optional>

#include "testing/heic_fixtures.h"

namespace brindle::heif::testing {
namespace {

struct Box {
  std::size_t offset = 0;  // of the size field
  std::size_t size = 0;
  std::size_t body = 0;  // first byte after the header
  std::string type;
};

std::uint64_t get_be(const std::vector<std::uint8_t>& b, std::size_t at, unsigned bytes) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v = (v << 8) | b.at(at + i);
  return v;
}

void put_be(std::vector<std::uint8_t>& b, std::size_t at, unsigned bytes, std::uint64_t v) {
  for (unsigned i = 0; i < bytes; ++i) b.at(at + bytes - 1 - i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// Child boxes of [begin, end); only 32-bit sizes, as heif-enc writes them.
std::expected<std::vector<Box>, std::string> children(const std::vector<std::uint8_t>& b, std::size_t begin,
                                                      std::size_t end) {
  std::vector<Box> boxes;
  for (std::size_t at = begin; at < end;) {
    if (at + 8 > end) return std::unexpected(std::string("truncated box header"));
    const std::size_t size = get_be(b, at, 4);
    if (size < 8 || at + size > end) return std::unexpected(std::string("unsupported box size"));
    boxes.push_back(Box{at, size, at + 8, std::string(b.begin() + at + 4, b.begin() + at + 8)});
    at += size;
  }
  return boxes;
}

std::optional<Box> find(const std::vector<Box>& boxes, const std::string& type) {
  for (const auto& box : boxes) {
    if (box.type == type) return box;
  }
  return std::nullopt;
}

// Moves every file offset in `iloc` that points at or past `threshold` by
// `delta`, in place.
std::expected<void, std::string> shift_iloc(std::vector<std::uint8_t>& b, const Box& iloc, std::size_t threshold,
                                            std::size_t delta) {
  std::size_t at = iloc.body;
  const unsigned version = b.at(at);
  at += 4;
  const unsigned offset_size = b.at(at) >> 4, length_size = b.at(at) & 15;
  const unsigned base_offset_size = b.at(at + 1) >> 4;
  const unsigned index_size = version >= 1 ? (b.at(at + 1) & 15) : 0;
  at += 2;
  const unsigned id_bytes = version < 2 ? 2 : 4;
  const std::uint64_t items = get_be(b, at, id_bytes);
  at += id_bytes;
  for (std::uint64_t i = 0; i < items; ++i) {
    at += id_bytes;  // item_ID
    unsigned method = 0;
    if (version >= 1) {
      method = static_cast<unsigned>(get_be(b, at, 2) & 15);
      at += 2;
    }
    at += 2;  // data_reference_index
    const std::size_t base_at = at;
    const std::uint64_t base = get_be(b, at, base_offset_size);
    at += base_offset_size;
    const std::uint64_t extents = get_be(b, at, 2);
    at += 2;
    const bool shift_base = method == 0 && base_offset_size > 0 && base >= threshold;
    if (shift_base) put_be(b, base_at, base_offset_size, base + delta);
    for (std::uint64_t e = 0; e < extents; ++e) {
      at += index_size;
      const std::uint64_t offset = get_be(b, at, offset_size);
      if (method == 0 && !shift_base && offset_size > 0 && base + offset >= threshold) {
        put_be(b, at, offset_size, offset + delta);
      }
      at += offset_size + length_size;
    }
  }
  if (at > iloc.offset + iloc.size) return std::unexpected(std::string("iloc overruns its box"));
  return {};
}

}  // namespace

std::expected<std::vector<std::uint8_t>, std::string> add_rotation(const std::vector<std::uint8_t>& file,
                                                                   unsigned quarter_turns) {
  std::vector<std::uint8_t> b = file;
  auto top = children(b, 0, b.size());
  if (!top) return std::unexpected(top.error());
  const auto meta = find(*top, "meta");
  if (!meta) return std::unexpected(std::string("no meta box"));
  auto in_meta = children(b, meta->body + 4, meta->offset + meta->size);  // meta is a full box
  if (!in_meta) return std::unexpected(in_meta.error());
  const auto pitm = find(*in_meta, "pitm");
  const auto iloc = find(*in_meta, "iloc");
  const auto iprp = find(*in_meta, "iprp");
  if (!pitm || !iloc || !iprp) return std::unexpected(std::string("meta lacks pitm, iloc or iprp"));
  const std::uint64_t primary = get_be(b, pitm->body + 4, b.at(pitm->body) == 0 ? 2 : 4);
  auto in_iprp = children(b, iprp->body, iprp->offset + iprp->size);
  if (!in_iprp) return std::unexpected(in_iprp.error());
  const auto ipco = find(*in_iprp, "ipco");
  const auto ipma = find(*in_iprp, "ipma");
  if (!ipco || !ipma || ipma->offset < ipco->offset) return std::unexpected(std::string("unexpected iprp layout"));
  auto properties = children(b, ipco->body, ipco->offset + ipco->size);
  if (!properties) return std::unexpected(properties.error());
  const std::size_t index = properties->size() + 1;  // property indices start at 1

  // Find the primary item's association list.
  std::size_t at = ipma->body;
  const unsigned version = b.at(at);
  const bool wide = (b.at(at + 3) & 1) != 0;
  at += 4;
  const std::uint64_t entries = get_be(b, at, 4);
  at += 4;
  std::optional<std::size_t> count_at, insert_at;
  for (std::uint64_t e = 0; e < entries; ++e) {
    const unsigned id_bytes = version < 1 ? 2 : 4;
    const std::uint64_t item = get_be(b, at, id_bytes);
    at += id_bytes;
    const std::size_t n = b.at(at);
    const std::size_t after = at + 1 + n * (wide ? 2 : 1);
    if (item == primary) {
      count_at = at;
      insert_at = after;
    }
    at = after;
  }
  if (!count_at) return std::unexpected(std::string("primary item has no properties"));
  if (b.at(*count_at) == 255 || (!wide && index > 127)) return std::unexpected(std::string("ipma entry full"));

  std::vector<std::uint8_t> association;
  if (wide) {
    association = {static_cast<std::uint8_t>(0x80 | (index >> 8)), static_cast<std::uint8_t>(index & 0xFF)};
  } else {
    association = {static_cast<std::uint8_t>(0x80 | index)};  // essential: a transform must not be ignored
  }
  const std::vector<std::uint8_t> irot = {0, 0, 0, 9, 'i', 'r', 'o', 't', static_cast<std::uint8_t>(quarter_turns & 3)};
  const std::size_t delta = irot.size() + association.size();

  // In-place edits first, while every offset above is still valid.
  auto shifted = shift_iloc(b, *iloc, meta->offset + meta->size, delta);
  if (!shifted) return std::unexpected(shifted.error());
  b[*count_at] += 1;
  put_be(b, ipma->offset, 4, ipma->size + association.size());
  put_be(b, ipco->offset, 4, ipco->size + irot.size());
  put_be(b, iprp->offset, 4, iprp->size + delta);
  put_be(b, meta->offset, 4, meta->size + delta);
  // Later insertion first, so the earlier position stays put.
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(*insert_at), association.begin(), association.end());
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(ipco->offset + ipco->size), irot.begin(), irot.end());
  return b;
}

std::vector<std::uint8_t> wipe_media_data(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> b = file;
  auto top = children(b, 0, b.size());
  if (!top) return b;
  if (const auto mdat = find(*top, "mdat")) {
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(mdat->body),
              b.begin() + static_cast<std::ptrdiff_t>(mdat->offset + mdat->size), 0);
  }
  return b;
}

std::expected<std::vector<std::uint8_t>, std::string> set_image_size(const std::vector<std::uint8_t>& file,
                                                                     std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> b = file;
  auto top = children(b, 0, b.size());
  if (!top) return std::unexpected(top.error());
  const auto meta = find(*top, "meta");
  if (!meta) return std::unexpected(std::string("no meta box"));
  auto in_meta = children(b, meta->body + 4, meta->offset + meta->size);
  if (!in_meta) return std::unexpected(in_meta.error());
  const auto iprp = find(*in_meta, "iprp");
  if (!iprp) return std::unexpected(std::string("no iprp box"));
  auto in_iprp = children(b, iprp->body, iprp->offset + iprp->size);
  if (!in_iprp) return std::unexpected(in_iprp.error());
  const auto ipco = find(*in_iprp, "ipco");
  if (!ipco) return std::unexpected(std::string("no ipco box"));
  auto properties = children(b, ipco->body, ipco->offset + ipco->size);
  if (!properties) return std::unexpected(properties.error());
  int patched = 0;
  for (const auto& p : *properties) {
    if (p.type != "ispe" || p.size < 20) continue;
    put_be(b, p.body + 4, 4, width);  // after version and flags
    put_be(b, p.body + 8, 4, height);
    ++patched;
  }
  if (patched == 0) return std::unexpected(std::string("no ispe property"));
  return b;
}

}  // namespace brindle::heif::testing
