// The text answered instead of a level table when libheif, or its HEVC
// decoder, is not usable on this system.
#pragma once

#include <string>
#include <string_view>

namespace brindle::heif {

// Twelve lines, each ended by a line feed; line 3 is `reason` and a full
// stop.
std::string install_notice(std::string_view reason);

}  // namespace brindle::heif
