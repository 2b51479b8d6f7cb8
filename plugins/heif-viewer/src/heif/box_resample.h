// Area averaging ("box filter") from interleaved RGB or RGBA bytes to RGBA.
//
// Target pixel (x, y) averages the source window
//   columns ⌊sw·x/tw⌋ … max(⌊sw·(x+1)/tw⌋, x0+1) − 1, likewise for rows,
// each channel rounded as (sum + ⌊n/2⌋) / n. Colour and alpha are averaged
// alike (straight alpha); three-channel input gains alpha 255. Same-size
// targets copy. The filter is meant for reduction; enlarging repeats pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace brindle::heif {

// Interleaved 8-bit source pixels; `stride` is the byte distance between
// row starts. The bytes are borrowed.
struct PixelSource {
  std::span<const std::uint8_t> bytes;
  std::size_t stride = 0;
  unsigned channels = 0;  // 3 (RGB) or 4 (RGBA)
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Writes tw × th RGBA pixels into the first tw·th·4 bytes of `out`. Fails
// (writing nothing) on a channel count other than 3 or 4, a zero size, a
// stride shorter than a row, or spans too short for the sizes.
std::expected<void, std::string> box_resample_into(const PixelSource& src, std::uint32_t tw, std::uint32_t th,
                                                   std::span<std::uint8_t> out);

// The same into a new tw·th·4 byte vector.
std::expected<std::vector<std::uint8_t>, std::string> box_resample(const PixelSource& src, std::uint32_t tw,
                                                                   std::uint32_t th);

}  // namespace brindle::heif
