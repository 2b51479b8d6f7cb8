#include "raster/raster_layout.h"

#include <algorithm>

#include "doc/tiff_decoder.h"

namespace brindle::tiff {
namespace {

std::string unsupported(const std::string& what) { return "unsupported error: " + what; }

std::expected<void, std::string> check_decodable(TIFF* tif, const RasterLayout& l, std::uint16_t stored_photometric) {
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (!TIFFIsCODECConfigured(compression)) {
    return std::unexpected(unsupported("compression method " + std::to_string(compression) + " is unsupported"));
  }
  if (l.samples_per_pixel == 0) return std::unexpected(std::string("format error: samples per pixel is zero"));
  // Fax data codes lines of single bilevel samples. With more samples per
  // pixel libtiff would fill a line's worth at the start of each much longer
  // stored row and leave the rest, so the picture would be garbage, and a
  // tiny file could make each render read gigabytes of nothing.
  const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                   compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
  if (fax && l.samples_per_pixel != 1) {
    return std::unexpected(unsupported(std::to_string(l.samples_per_pixel) + " samples per pixel is unsupported"));
  }
  const unsigned bits = l.bits_per_sample;
  switch (l.sample_format) {
    case SAMPLEFORMAT_UINT:
      if (bits == 0 || bits > 64 || (bits > 32 && bits != 64)) {
        return std::unexpected(unsupported(std::to_string(bits) + " bits per channel not supported"));
      }
      break;
    case SAMPLEFORMAT_INT:
      if (bits != 8 && bits != 16 && bits != 32 && bits != 64) {
        return std::unexpected(unsupported(std::to_string(bits) + " bits per channel not supported"));
      }
      break;
    case SAMPLEFORMAT_IEEEFP:
      if (bits != 16 && bits != 32 && bits != 64) {
        return std::unexpected(unsupported(std::to_string(bits) + " bits per channel not supported"));
      }
      break;
    default:
      return std::unexpected(unsupported("sample format " + std::to_string(l.sample_format) + " is unsupported"));
  }
  if (stored_photometric == PHOTOMETRIC_YCBCR && compression != COMPRESSION_JPEG) {
    if (bits != 8) {
      return std::unexpected(unsupported("Photometric interpretation YCbCr with bits per sample " +
                                         std::to_string(bits) + " is unsupported"));
    }
    std::uint16_t sub_h = 1;
    std::uint16_t sub_v = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &sub_h, &sub_v);
    if (sub_h != 1 || sub_v != 1) {
      return std::unexpected(unsupported("chroma subsampling of YCbCr color is unsupported"));
    }
  }
  return {};
}

}  // namespace

std::expected<RasterLayout, std::string> read_raster_layout(TiffDecoder& decoder) {
  TIFF* tif = decoder.handle();
  RasterLayout l;
  std::uint16_t u16 = 0;
  if (TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &u16) == 1) l.samples_per_pixel = u16;
  if (TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &u16) == 1) {
    if (u16 > 255) return std::unexpected(unsupported(std::to_string(u16) + " bits per channel not supported"));
    l.bits_per_sample = static_cast<std::uint8_t>(u16);
  }
  if (TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &u16) == 1) l.sample_format = u16;
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &u16) == 1) l.photometric = u16;
  const std::uint16_t stored_photometric = l.photometric;

  std::uint16_t* red = nullptr;
  std::uint16_t* green = nullptr;
  std::uint16_t* blue = nullptr;
  if (l.bits_per_sample <= 16 && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) == 1 && red && green &&
      blue) {
    const std::size_t n = std::size_t{1} << l.bits_per_sample;
    std::vector<std::uint16_t> map;
    map.reserve(3 * n);
    map.insert(map.end(), red, red + n);
    map.insert(map.end(), green, green + n);
    map.insert(map.end(), blue, blue + n);
    l.color_map = std::move(map);
    l.photometric = PHOTOMETRIC_PALETTE;
  } else if (auto raw = decoder.raw_short_tag(TIFFTAG_COLORMAP)) {
    // libtiff drops a ColorMap of the wrong length; its entries still
    // colour the indices they cover.
    l.color_map = std::move(*raw);
    l.photometric = PHOTOMETRIC_PALETTE;
  }
  if (TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &u16) == 1) l.planar = u16 == PLANARCONFIG_SEPARATE;

  std::uint16_t extra_count = 0;
  std::uint16_t* extra = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra) == 1 && extra != nullptr) {
    for (std::uint16_t i = 0; i < extra_count; ++i) {
      if (extra[i] == EXTRASAMPLE_ASSOCALPHA || extra[i] == EXTRASAMPLE_UNASSALPHA) {
        const std::uint64_t base = std::max<std::uint64_t>(
            l.samples_per_pixel > extra_count ? l.samples_per_pixel - extra_count : 0, 1);
        l.alpha_index = base + i;
        l.has_alpha = l.alpha_index < l.samples_per_pixel;
        break;
      }
    }
  }

  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR) {
    // libtiff's JPEG codec converts to RGB (and undoes the subsampling);
    // converting again here would shift every colour.
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    l.photometric = PHOTOMETRIC_RGB;
  }
  l.cmyk = l.photometric == PHOTOMETRIC_SEPARATED && l.samples_per_pixel >= 4;
  l.bands = (l.samples_per_pixel >= 3 || l.photometric == PHOTOMETRIC_PALETTE) ? 3 : 1;

  if (auto ok = check_decodable(tif, l, stored_photometric); !ok) return std::unexpected(ok.error());
  return l;
}

}  // namespace brindle::tiff
