// The sample layout of one TIFF image, read from the tags of the decoder's
// current IFD: how many samples a pixel has, of which kind and width, how
// they are arranged and what colour model they follow.
#pragma once

#include <tiff.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace brindle::tiff {

class TiffDecoder;

struct RasterLayout {
  bool has_alpha = false;
  std::uint64_t alpha_index = 0;  // the plane index when planar
  std::optional<std::vector<std::uint16_t>> color_map;  // reds, then greens, then blues
  std::uint64_t samples_per_pixel = 1;
  std::uint64_t bands = 1;          // 3 for colour, 1 for grey
  std::uint16_t sample_format = 1;  // 1 unsigned, 2 signed, 3 IEEE float
  std::uint16_t photometric = 1;
  bool planar = false;
  bool cmyk = false;
  std::uint8_t bits_per_sample = 1;

  // Source description shown to the host: grey/colour, plus alpha.
  std::uint8_t channels() const { return static_cast<std::uint8_t>((bands == 1 ? 1 : 3) + (has_alpha ? 1 : 0)); }
};


// Reads the layout and checks that its samples can be decoded. JPEG data in
// YCbCr is handed back by the decoder already as RGB, so such an image is
// described (and later converted) as RGB. Errors are decoder failure texts.
std::expected<RasterLayout, std::string> read_raster_layout(TiffDecoder& decoder);

}  // namespace brindle::tiff
