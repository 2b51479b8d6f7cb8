// GDAL value metadata of a GeoTIFF: the no-data value (tag 42113) and the
// per-band statistics range (STATISTICS_MINIMUM / STATISTICS_MAXIMUM items of
// the metadata XML in tag 42112), read once from IFD 0 of the main file.
// Nothing here fails: a missing or malformed value only leaves a field empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::tiff {

class TiffDecoder;

inline constexpr std::uint32_t TAG_GDAL_METADATA = 42112;
inline constexpr std::uint32_t TAG_GDAL_NODATA = 42113;

struct BandStats {
  double min = 0;
  double max = 0;  // always >= min

  bool operator==(const BandStats&) const = default;
};

struct RasterMeta {
  std::optional<double> nodata;
  // Indexed by sample number; may be shorter than the sample count.
  std::vector<std::optional<BandStats>> band_stats;
};

// Reads both tags from the decoder's current IFD (IFD 0 of the main file).
RasterMeta read_raster_meta(const TiffDecoder& decoder);

// The no-data value from the tag text: white space trimmed, then trailing
// NULs removed, then a decimal number or inf / infinity / nan.
std::optional<double> parse_nodata(std::string_view text);

// Statistics from GDAL metadata text. Items whose sample index is not below
// `samples_per_pixel` are ignored, so the list never outgrows the image.
std::vector<std::optional<BandStats>> parse_band_stats(std::string_view text, std::uint64_t samples_per_pixel);

// The value of key="..." in an Item start tag; entities are not decoded.
std::optional<std::string_view> xml_attr(std::string_view start_tag, std::string_view key);

// A decimal floating-point number, nothing left over; nearest double.
std::optional<double> parse_decimal(std::string_view text);

// Removes Unicode White_Space from both ends of UTF-8 text.
std::string_view trim_white_space(std::string_view text);

}  // namespace brindle::tiff
