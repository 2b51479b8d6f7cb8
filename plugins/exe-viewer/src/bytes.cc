#include "bytes.h"

#include <cstring>

namespace brindle::exe {

std::optional<std::uint64_t> ByteReader::read(std::uint64_t offset, unsigned width) const {
  if (!has(offset, width)) return std::nullopt;
  const std::uint8_t* p = data_.data() + offset;
  std::uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) {
    unsigned shift = big_endian_ ? 8 * (width - 1 - i) : 8 * i;
    v |= static_cast<std::uint64_t>(p[i]) << shift;
  }
  return v;
}

std::optional<std::uint8_t> ByteReader::u8(std::uint64_t offset) const {
  if (!has(offset, 1)) return std::nullopt;
  return data_[offset];
}

std::optional<std::uint16_t> ByteReader::u16(std::uint64_t offset) const {
  auto v = read(offset, 2);
  if (!v) return std::nullopt;
  return static_cast<std::uint16_t>(*v);
}

std::optional<std::uint32_t> ByteReader::u32(std::uint64_t offset) const {
  auto v = read(offset, 4);
  if (!v) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::optional<std::uint64_t> ByteReader::u64(std::uint64_t offset) const { return read(offset, 8); }

std::optional<Bytes> ByteReader::slice(std::uint64_t offset, std::uint64_t length) const {
  if (!has(offset, length)) return std::nullopt;
  return data_.subspan(offset, length);
}

std::optional<Bytes> ByteReader::c_string(std::uint64_t offset) const {
  if (offset > data_.size()) return std::nullopt;
  Bytes rest = data_.subspan(offset);
  const void* nul = std::memchr(rest.data(), 0, rest.size());
  std::size_t len = nul ? static_cast<const std::uint8_t*>(nul) - rest.data() : rest.size();
  return rest.first(len);
}

}  // namespace brindle::exe
