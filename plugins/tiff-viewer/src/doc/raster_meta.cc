#include "doc/raster_meta.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "doc/tiff_decoder.h"

namespace brindle::tiff {
namespace {

// UTF-8 encodings of the non-ASCII White_Space code points.
constexpr std::array<std::string_view, 18> WIDE_SPACES = {
    "\u0085", "\u00a0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005",
    "\u2006", "\u2007", "\u2008", "\u2009", "\u200a", "\u2028", "\u2029", "\u202f", "\u205f"};
constexpr std::string_view IDEOGRAPHIC_SPACE = "\u3000";

std::size_t space_prefix(std::string_view s) {
  if (s.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(s[0]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0d)) return 1;
  if (s.starts_with(IDEOGRAPHIC_SPACE)) return IDEOGRAPHIC_SPACE.size();
  for (auto w : WIDE_SPACES) {
    if (s.starts_with(w)) return w.size();
  }
  return 0;
}

std::size_t space_suffix(std::string_view s) {
  if (s.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(s.back());
  if (c == ' ' || (c >= 0x09 && c <= 0x0d)) return 1;
  if (s.ends_with(IDEOGRAPHIC_SPACE)) return IDEOGRAPHIC_SPACE.size();
  for (auto w : WIDE_SPACES) {
    if (s.ends_with(w)) return w.size();
  }
  return 0;
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<std::uint64_t> parse_sample(std::string_view s) {
  if (s.starts_with('+')) s.remove_prefix(1);
  if (s.empty() || !std::all_of(s.begin(), s.end(), is_digit)) return std::nullopt;
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  while (std::size_t n = space_prefix(text)) text.remove_prefix(n);
  while (std::size_t n = space_suffix(text)) text.remove_suffix(n);
  return text;
}

std::optional<double> parse_decimal(std::string_view text) {
  bool negative = false;
  std::string_view s = text;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  double value = 0;
  if (iequals(s, "inf") || iequals(s, "infinity")) {
    value = std::numeric_limits<double>::infinity();
  } else if (iequals(s, "nan")) {
    value = std::numeric_limits<double>::quiet_NaN();
  } else {
    std::size_t i = 0;
    std::size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
      ++i;
      while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      ++i;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
      std::size_t exp_digits = 0;
      while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
      if (exp_digits == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range) {
      // Nearest double of a huge or tiny magnitude.
      value = std::strtod(std::string(s).c_str(), nullptr);
    } else if (ec != std::errc()) {
      return std::nullopt;
    }
  }
  return negative ? -value : value;
}

std::optional<double> parse_nodata(std::string_view text) {
  std::string_view s = trim_white_space(text);
  while (!s.empty() && s.back() == '\0') s.remove_suffix(1);
  return parse_decimal(s);
}

std::optional<std::string_view> xml_attr(std::string_view start_tag, std::string_view key) {
  std::string needle(key);
  needle += "=\"";
  const std::size_t at = start_tag.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t begin = at + needle.size();
  const std::size_t end = start_tag.find('"', begin);
  if (end == std::string_view::npos) return std::nullopt;
  return start_tag.substr(begin, end - begin);
}

std::vector<std::optional<BandStats>> parse_band_stats(std::string_view text, std::uint64_t samples_per_pixel) {
  std::vector<std::optional<double>> minimums;
  std::vector<std::optional<double>> maximums;
  std::string_view rest = text;
  for (;;) {
    const std::size_t start = rest.find("<Item ");
    if (start == std::string_view::npos) break;
    std::string_view item = rest.substr(start);
    const std::size_t close = item.find('>');
    if (close == std::string_view::npos) break;
    const std::string_view start_tag = item.substr(0, close);
    const std::size_t end = item.find("</Item>", close + 1);
    if (end == std::string_view::npos) break;
    const auto value = parse_decimal(trim_white_space(item.substr(close + 1, end - close - 1)));
    const auto name = xml_attr(start_tag, "name");
    std::uint64_t sample = 0;
    if (auto s = xml_attr(start_tag, "sample")) sample = parse_sample(*s).value_or(0);

    std::vector<std::optional<double>>* target = nullptr;
    if (name == "STATISTICS_MINIMUM") target = &minimums;
    if (name == "STATISTICS_MAXIMUM") target = &maximums;
    if (target != nullptr && sample < samples_per_pixel) {
      if (target->size() < sample + 1) target->resize(static_cast<std::size_t>(sample) + 1);
      (*target)[static_cast<std::size_t>(sample)] = value;
    }
    rest = item.substr(end);
  }
  std::vector<std::optional<BandStats>> stats(std::max(minimums.size(), maximums.size()));
  for (std::size_t i = 0; i < stats.size(); ++i) {
    if (i >= minimums.size() || i >= maximums.size() || !minimums[i] || !maximums[i]) continue;
    const double lo = *minimums[i];
    const double hi = *maximums[i];
    if (hi >= lo) stats[i] = BandStats{lo, hi};  // false for NaN as well
  }
  return stats;
}

RasterMeta read_raster_meta(const TiffDecoder& decoder) {
  RasterMeta meta;
  if (auto text = decoder.ascii_tag(TAG_GDAL_NODATA)) meta.nodata = parse_nodata(*text);
  if (auto text = decoder.ascii_tag(TAG_GDAL_METADATA)) {
    std::uint16_t spp = 1;
    TIFFGetFieldDefaulted(decoder.handle(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    meta.band_stats = parse_band_stats(*text, spp);
  }
  return meta;
}

}  // namespace brindle::tiff
