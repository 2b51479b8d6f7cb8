// Address translation inside a PE image: relative virtual addresses (RVAs)
// mapped to the bytes of the section, or the headers, that hold them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "bytes.h"

namespace brindle::exe {

struct PeSectionMap {
  std::uint32_t virtual_address = 0;
  std::uint32_t raw_size = 0;
  std::uint32_t raw_offset = 0;
};

class PeImage {
 public:
  PeImage(Bytes data, std::uint64_t image_base, std::uint32_t headers_size, std::vector<PeSectionMap> sections)
      : data_(data), image_base_(image_base), headers_size_(headers_size), sections_(std::move(sections)) {}

  std::uint64_t image_base() const { return image_base_; }

  // The file bytes from `rva` to the end of the raw data that contains it;
  // nothing when the address is not backed by the file.
  std::optional<Bytes> at(std::uint64_t rva) const;

  // The zero-terminated string at `rva`.
  std::optional<Bytes> c_string(std::uint64_t rva) const;

 private:
  Bytes data_;
  std::uint64_t image_base_;
  std::uint32_t headers_size_;
  std::vector<PeSectionMap> sections_;
};

}  // namespace brindle::exe
