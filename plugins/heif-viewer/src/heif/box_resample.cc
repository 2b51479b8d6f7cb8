#include "heif/box_resample.h"

#include <array>
#include <limits>

namespace brindle::heif {
namespace {

// Rounded averages, (sum + ⌊n/2⌋) / n, for every window of one target row.
// Dividing by n is replaced by multiplying with ⌈2^64/n⌉ and keeping the
// high 64 bits, exact while the numerator stays below 2^32, i.e. for
// n < 2^24 (sums are at most 255·n); n = 1 has no such multiplier and adds
// the numerator through a mask instead. Window heights take at most two
// values in a reduction, so the tables for the last two are kept.
class RowDivisors {
 public:
  static constexpr std::uint64_t FAST_LIMIT = 1u << 24;

  explicit RowDivisors(const std::vector<std::uint32_t>& widths) : widths_(widths) {}

  struct Table {
    std::uint32_t rows = 0;
    std::vector<std::uint64_t> magic, half, pass;
  };

  const Table& for_rows(std::uint32_t rows) {
    for (const auto& t : tables_) {
      if (t.rows == rows) return t;
    }
    Table& t = tables_[next_];
    next_ ^= 1;
    t.rows = rows;
    t.magic.resize(widths_.size());
    t.half.resize(widths_.size());
    t.pass.resize(widths_.size());
    for (std::size_t x = 0; x < widths_.size(); ++x) {
      const std::uint64_t n = static_cast<std::uint64_t>(rows) * widths_[x];
      t.magic[x] = n == 1 ? 0 : std::numeric_limits<std::uint64_t>::max() / n + 1;
      t.pass[x] = n == 1 ? ~std::uint64_t{0} : 0;
      t.half[x] = n / 2;
    }
    return t;
  }

  static std::uint8_t average(const Table& t, std::size_t x, std::uint64_t sum) {
    const std::uint64_t num = sum + t.half[x];
    const auto q = static_cast<std::uint64_t>((static_cast<unsigned __int128>(num) * t.magic[x]) >> 64);
    return static_cast<std::uint8_t>(q + (num & t.pass[x]));
  }

 private:
  const std::vector<std::uint32_t>& widths_;
  std::array<Table, 2> tables_;
  unsigned next_ = 0;
};

// Windows too large for the multiplier divide plainly.
class PlainDivisors {
 public:
  explicit PlainDivisors(const std::vector<std::uint32_t>& widths) : widths_(widths) {}
  struct Table {
    std::uint32_t rows;
  };
  Table for_rows(std::uint32_t rows) const { return {rows}; }
  std::uint8_t average(const Table& t, std::size_t x, std::uint64_t sum) const {
    const std::uint64_t n = static_cast<std::uint64_t>(t.rows) * widths_[x];
    return static_cast<std::uint8_t>((sum + n / 2) / n);
  }

 private:
  const std::vector<std::uint32_t>& widths_;
};

std::uint32_t window_start(std::uint32_t s, std::uint32_t t, std::uint32_t i) {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(s) * i / t);
}

std::uint32_t window_end(std::uint32_t s, std::uint32_t t, std::uint32_t i, std::uint32_t start) {
  std::uint64_t end = static_cast<std::uint64_t>(s) * (static_cast<std::uint64_t>(i) + 1) / t;
  if (end < static_cast<std::uint64_t>(start) + 1) end = static_cast<std::uint64_t>(start) + 1;
  if (end > s) end = s;
  return static_cast<std::uint32_t>(end);
}

// Per target row: sum the window's source rows column by column, then sum
// each target pixel's columns. Every source byte is added once per target
// row whose window covers it.
template <unsigned CHANNELS, class Acc, class Divisors>
void resample(const PixelSource& src, std::uint32_t tw, std::uint32_t th, std::uint8_t* out) {
  const std::size_t row_bytes = static_cast<std::size_t>(src.width) * CHANNELS;
  std::vector<std::uint32_t> x0(tw), widths(tw);
  for (std::uint32_t x = 0; x < tw; ++x) {
    x0[x] = window_start(src.width, tw, x);
    widths[x] = window_end(src.width, tw, x, x0[x]) - x0[x];
  }
  std::vector<Acc> columns(row_bytes);
  Divisors divisors(widths);
  const std::uint8_t* base = src.bytes.data();

  for (std::uint32_t y = 0; y < th; ++y) {
    const std::uint32_t y0 = window_start(src.height, th, y);
    const std::uint32_t y1 = window_end(src.height, th, y, y0);
    const std::uint8_t* row = base + y0 * src.stride;
    for (std::size_t i = 0; i < row_bytes; ++i) columns[i] = row[i];
    for (std::uint32_t r = y0 + 1; r < y1; ++r) {
      row = base + r * src.stride;
      for (std::size_t i = 0; i < row_bytes; ++i) columns[i] += row[i];
    }
    const auto& table = divisors.for_rows(y1 - y0);
    std::uint8_t* dst = out + static_cast<std::size_t>(y) * tw * 4;
    for (std::uint32_t x = 0; x < tw; ++x, dst += 4) {
      const Acc* col = columns.data() + static_cast<std::size_t>(x0[x]) * CHANNELS;
      const Acc* col_end = col + static_cast<std::size_t>(widths[x]) * CHANNELS;
      std::uint64_t sums[CHANNELS] = {};
      for (; col < col_end; col += CHANNELS) {
        for (unsigned c = 0; c < CHANNELS; ++c) sums[c] += col[c];
      }
      for (unsigned c = 0; c < CHANNELS; ++c) dst[c] = divisors.average(table, x, sums[c]);
      if constexpr (CHANNELS == 3) dst[3] = 255;
    }
  }
}

// Exact halving, the common case (the base of a large image and every level
// below it): each target pixel is a 2 × 2 block, n = 4, and the rounded
// average is a shift.
template <unsigned CHANNELS>
void halve(const PixelSource& src, std::uint32_t tw, std::uint32_t th, std::uint8_t* out) {
  for (std::uint32_t y = 0; y < th; ++y) {
    const std::uint8_t* r0 = src.bytes.data() + static_cast<std::size_t>(2 * y) * src.stride;
    const std::uint8_t* r1 = r0 + src.stride;
    std::uint8_t* dst = out + static_cast<std::size_t>(y) * tw * 4;
    for (std::uint32_t x = 0; x < tw; ++x, r0 += 2 * CHANNELS, r1 += 2 * CHANNELS, dst += 4) {
      for (unsigned c = 0; c < CHANNELS; ++c) {
        const unsigned sum = r0[c] + r0[CHANNELS + c] + r1[c] + r1[CHANNELS + c];
        dst[c] = static_cast<std::uint8_t>((sum + 2) >> 2);
      }
      if constexpr (CHANNELS == 3) dst[3] = 255;
    }
  }
}

template <unsigned CHANNELS>
void resample_channels(const PixelSource& src, std::uint32_t tw, std::uint32_t th, std::uint8_t* out) {
  // Upper bounds of a window's rows and columns.
  const std::uint64_t most_rows = src.height / th + 1;
  const std::uint64_t most_columns = src.width / tw + 1;
  // A column sum over at most this many rows cannot overflow 32 bits.
  constexpr std::uint64_t U32_SAFE_ROWS = 0xFFFFFFFFu / 255u;
  if (static_cast<std::uint64_t>(tw) * 2 == src.width && static_cast<std::uint64_t>(th) * 2 == src.height) {
    halve<CHANNELS>(src, tw, th, out);
  } else if (most_rows * most_columns < RowDivisors::FAST_LIMIT) {
    resample<CHANNELS, std::uint32_t, RowDivisors>(src, tw, th, out);
  } else if (most_rows <= U32_SAFE_ROWS) {
    resample<CHANNELS, std::uint32_t, PlainDivisors>(src, tw, th, out);
  } else {
    resample<CHANNELS, std::uint64_t, PlainDivisors>(src, tw, th, out);
  }
}

std::expected<void, std::string> invalid(const char* what) {
  return std::unexpected(std::string("box_resample: ") + what);
}

}  // namespace

std::expected<void, std::string> box_resample_into(const PixelSource& src, std::uint32_t tw, std::uint32_t th,
                                                   std::span<std::uint8_t> out) {
  if (src.channels != 3 && src.channels != 4) return invalid("channels must be 3 or 4");
  if (src.width == 0 || src.height == 0 || tw == 0 || th == 0) return invalid("empty size");
  const unsigned __int128 row_bytes = static_cast<unsigned __int128>(src.width) * src.channels;
  if (src.stride < row_bytes) return invalid("stride shorter than a row");
  const unsigned __int128 needed_in = static_cast<unsigned __int128>(src.height - 1) * src.stride + row_bytes;
  if (needed_in > src.bytes.size()) return invalid("source shorter than its size");
  const unsigned __int128 needed_out = static_cast<unsigned __int128>(tw) * th * 4;
  if (needed_out > out.size()) return invalid("target shorter than its size");

  if (src.channels == 3) {
    resample_channels<3>(src, tw, th, out.data());
  } else {
    resample_channels<4>(src, tw, th, out.data());
  }
  return {};
}

std::expected<std::vector<std::uint8_t>, std::string> box_resample(const PixelSource& src, std::uint32_t tw,
                                                                   std::uint32_t th) {
  const unsigned __int128 size = static_cast<unsigned __int128>(tw) * th * 4;
  if (size > std::numeric_limits<std::size_t>::max() / 2) {
    return std::unexpected(std::string("box_resample: target too large"));
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
  auto done = box_resample_into(src, tw, th, out);
  if (!done) return std::unexpected(std::move(done.error()));
  return out;
}

}  // namespace brindle::heif
