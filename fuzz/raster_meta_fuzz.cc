// The GDAL no-data and metadata texts: plain text scans that must stay
// within the image's bands and never accept a range with max < min.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "doc/raster_meta.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint64_t samples = data[0] % 8 + 1;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  (void)brindle::tiff::parse_nodata(text);
  const auto stats = brindle::tiff::parse_band_stats(text, samples);
  if (stats.size() > samples) __builtin_trap();
  for (const auto& s : stats)
    if (s && !(s->max >= s->min)) __builtin_trap();
  return 0;
}
