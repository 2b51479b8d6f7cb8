#include "pe_image.h"

namespace brindle::exe {

std::optional<Bytes> PeImage::at(std::uint64_t rva) const {
  ByteReader r(data_, false);
  for (const auto& s : sections_) {
    if (rva < s.virtual_address || rva - s.virtual_address >= s.raw_size) continue;
    std::uint64_t start = s.raw_offset + (rva - s.virtual_address);
    std::uint64_t end = std::uint64_t{s.raw_offset} + s.raw_size;
    if (end > data_.size()) end = data_.size();
    if (start >= end) return std::nullopt;
    return r.slice(start, end - start);
  }
  if (rva < headers_size_ && rva < data_.size()) return data_.subspan(rva, std::min<std::uint64_t>(headers_size_, data_.size()) - rva);
  return std::nullopt;
}

std::optional<Bytes> PeImage::c_string(std::uint64_t rva) const {
  auto bytes = at(rva);
  if (!bytes) return std::nullopt;
  return ByteReader(*bytes, false).c_string(0);
}

}  // namespace brindle::exe
