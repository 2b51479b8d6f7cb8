// The size of a HEIF file's primary image, read from the container without
// decoding, in the orientation libheif presents it (rotation applied).
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "heif/heif_context.h"

namespace brindle::heif {

struct ImageSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  bool operator==(const ImageSize&) const = default;
};

// Both sides positive, or the message of the failed open / handle lookup,
// or "container reports an empty image". libheif objects are released
// before returning.
std::expected<ImageSize, std::string> probe_image(const HeifSource& source);

}  // namespace brindle::heif
