// Bounds-checked reads of fixed-width integers out of a borrowed byte span.
//
// Every read names an absolute offset and yields nothing when the value
// would reach past the end, so hostile offsets and counts in file headers can
// never read outside the file. The span is borrowed: the caller keeps the
// bytes alive for as long as the reader is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace brindle::exe {

using Bytes = std::span<const std::uint8_t>;

class ByteReader {
 public:
  ByteReader(Bytes data, bool big_endian) : data_(data), big_endian_(big_endian) {}

  Bytes data() const { return data_; }
  std::size_t size() const { return data_.size(); }
  bool big_endian() const { return big_endian_; }

  // True when [offset, offset + length) lies inside the span.
  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }

  std::optional<std::uint8_t> u8(std::uint64_t offset) const;
  std::optional<std::uint16_t> u16(std::uint64_t offset) const;
  std::optional<std::uint32_t> u32(std::uint64_t offset) const;
  std::optional<std::uint64_t> u64(std::uint64_t offset) const;
  // A 64-bit value when `wide`, else a 32-bit one widened.
  std::optional<std::uint64_t> word(std::uint64_t offset, bool wide) const { return read(offset, wide ? 8 : 4); }

  // The bytes [offset, offset + length), or nothing when out of bounds.
  std::optional<Bytes> slice(std::uint64_t offset, std::uint64_t length) const;

  // The bytes from `offset` up to (not including) the next zero byte or the
  // end of the span; nothing when `offset` is past the end.
  std::optional<Bytes> c_string(std::uint64_t offset) const;

 private:
  std::optional<std::uint64_t> read(std::uint64_t offset, unsigned width) const;

  Bytes data_;
  bool big_endian_;
};

inline std::string_view as_chars(Bytes b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

}  // namespace brindle::exe
