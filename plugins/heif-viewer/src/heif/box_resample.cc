#include "heif/box_resample.h"

#include <array>
#include <limits>

namespace brindle::heif {
namespace {

// (sum + ⌊n/2⌋) / n without a hardware division per byte. For n < 2^24 the
// numerator stays below 2^32, where multiplying by ⌈2^64/n⌉ and keeping the
// high 64 bits is exact; larger windows divide plainly.
class RoundingDivider {
 public:
  explicit RoundingDivider(std::uint64_t n) : n_(n), half_(n / 2) {
    if (n_ >= 2 && n_ < (1u << 24)) magic_ = (std::numeric_limits<std::uint64_t>::max() / n_) + 1;
  }
  std::uint64_t n() const { return n_; }
  std::uint8_t operator()(std::uint64_t sum) const {
    const std::uint64_t num = sum + half_;
    std::uint64_t q;
    if (n_ == 1) {
      q = num;
    } else if (magic_ != 0) {
      q = static_cast<std::uint64_t>((static_cast<unsigned __int128>(num) * magic_) >> 64);
    } else {
      q = num / n_;
    }
    return static_cast<std::uint8_t>(q);  // an average of bytes is a byte
  }

 private:
  std::uint64_t n_;
  std::uint64_t half_;
  std::uint64_t magic_ = 0;
};

// Window sizes take few distinct values (usually two per axis), so a tiny
// cache spares recomputing the reciprocal for every pixel.
class DividerCache {
 public:
  const RoundingDivider& get(std::uint64_t n) {
    for (const auto& d : entries_) {
      if (d.n() == n) return d;
    }
    next_ = (next_ + 1) % entries_.size();
    entries_[next_] = RoundingDivider(n);
    return entries_[next_];
  }

 private:
  std::array<RoundingDivider, 4> entries_{RoundingDivider(1), RoundingDivider(1), RoundingDivider(1),
                                          RoundingDivider(1)};
  std::size_t next_ = 0;
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
template <unsigned CHANNELS, class Acc>
void resample(const PixelSource& src, std::uint32_t tw, std::uint32_t th, std::uint8_t* out) {
  const std::size_t row_bytes = static_cast<std::size_t>(src.width) * CHANNELS;
  std::vector<std::uint32_t> x0(tw), x1(tw);
  for (std::uint32_t x = 0; x < tw; ++x) {
    x0[x] = window_start(src.width, tw, x);
    x1[x] = window_end(src.width, tw, x, x0[x]);
  }
  std::vector<Acc> columns(row_bytes);
  DividerCache dividers;
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
    const std::uint64_t rows = y1 - y0;
    std::uint8_t* dst = out + static_cast<std::size_t>(y) * tw * 4;
    for (std::uint32_t x = 0; x < tw; ++x, dst += 4) {
      const RoundingDivider& divide = dividers.get(rows * (x1[x] - x0[x]));
      const Acc* col = columns.data() + static_cast<std::size_t>(x0[x]) * CHANNELS;
      const Acc* col_end = columns.data() + static_cast<std::size_t>(x1[x]) * CHANNELS;
      std::uint64_t sums[CHANNELS] = {};
      for (; col < col_end; col += CHANNELS) {
        for (unsigned c = 0; c < CHANNELS; ++c) sums[c] += col[c];
      }
      for (unsigned c = 0; c < CHANNELS; ++c) dst[c] = divide(sums[c]);
      if constexpr (CHANNELS == 3) dst[3] = 255;
    }
  }
}

template <unsigned CHANNELS>
void resample_channels(const PixelSource& src, std::uint32_t tw, std::uint32_t th, std::uint8_t* out) {
  // A column sum over at most this many rows cannot overflow 32 bits.
  constexpr std::uint32_t U32_SAFE_ROWS = 0xFFFFFFFFu / 255u;
  const std::uint32_t most_rows = src.height / th + 1;
  if (most_rows <= U32_SAFE_ROWS) {
    resample<CHANNELS, std::uint32_t>(src, tw, th, out);
  } else {
    resample<CHANNELS, std::uint64_t>(src, tw, th, out);
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
  if (size > std::numeric_limits<std::size_t>::max() / 2) return std::unexpected(std::string("box_resample: target too large"));
  std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
  auto done = box_resample_into(src, tw, th, out);
  if (!done) return std::unexpected(std::move(done.error()));
  return out;
}

}  // namespace brindle::heif
