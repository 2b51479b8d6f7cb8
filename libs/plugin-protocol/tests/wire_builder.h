// Hand-built Cap'n Proto words for decoder tests: lets a test lay out a
// message the way another sender might (shorter sections, wrong pointer
// kinds, unknown discriminants) without going through the schema.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin_protocol/framing.h"

namespace brindle::testing {

// Struct pointer: target = pointer's word + 1 + offset.
inline std::uint64_t struct_ptr(std::int32_t offset, std::uint16_t data_words, std::uint16_t pointers) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(offset) << 2)) |
         static_cast<std::uint64_t>(data_words) << 32 | static_cast<std::uint64_t>(pointers) << 48;
}

// List pointer; element size 2 = bytes, 7 = inline composite (count in words).
inline std::uint64_t list_ptr(std::int32_t offset, std::uint8_t element_size, std::uint32_t count) {
  return 1 | (static_cast<std::uint64_t>(static_cast<std::uint32_t>(offset) << 2)) |
         static_cast<std::uint64_t>(element_size) << 32 | static_cast<std::uint64_t>(count) << 35;
}

inline FramedMessage one_segment(std::vector<std::uint64_t> words) {
  FramedMessage m;
  m.segment_sizes.push_back(static_cast<std::uint32_t>(words.size()));
  m.words = std::move(words);
  return m;
}

}  // namespace brindle::testing
