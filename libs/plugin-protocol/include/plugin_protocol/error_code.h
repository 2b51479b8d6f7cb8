// Wire enumeration of error classes carried by an error reply. Ten values
// exist on the wire; the viewer plug-ins produce only failed, not_found,
// unsupported and too_large.
#pragma once

#include <cstdint>

namespace brindle {

enum class ErrorCode : std::uint16_t {
  failed = 0,
  not_found = 1,
  code_2 = 2,
  code_3 = 3,
  code_4 = 4,
  unsupported = 5,
  too_large = 6,
  code_7 = 7,
  code_8 = 8,
  code_9 = 9,
};

inline constexpr std::uint16_t ERROR_CODE_COUNT = 10;

}  // namespace brindle
