#include "doc/tiff_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace brindle::tiff {
namespace {

using State = TiffDecoder::State;

State* state_of(thandle_t h) { return static_cast<State*>(h); }

tmsize_t read_proc(thandle_t h, void* buf, tmsize_t size) {
  // libtiff treats a short read as failure, so fill the request if we can.
  auto* s = state_of(h);
  auto* out = static_cast<std::uint8_t*>(buf);
  tmsize_t done = 0;
  while (done < size) {
    auto got = s->stream->read(std::span(out + done, static_cast<std::size_t>(size - done)));
    if (!got) {
      s->errors.push_back(got.error());
      return done > 0 ? done : -1;
    }
    if (*got == 0) break;
    done += static_cast<tmsize_t>(*got);
  }
  return done;
}

tmsize_t write_proc(thandle_t, void*, tmsize_t) { return -1; }

toff_t seek_proc(thandle_t h, toff_t off, int whence) {
  auto* s = state_of(h);
  SeekFrom from = whence == SEEK_CUR ? SeekFrom::current : whence == SEEK_END ? SeekFrom::end : SeekFrom::start;
  auto r = s->stream->seek(static_cast<std::int64_t>(off), from);
  if (!r) return static_cast<toff_t>(-1);
  return *r;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return state_of(h)->stream->size(); }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

std::string format(const char* fmt, va_list ap) {
  std::array<char, 1024> buf{};
  std::vsnprintf(buf.data(), buf.size(), fmt, ap);
  return buf.data();
}

int on_error(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
  static_cast<State*>(user)->errors.push_back(format(fmt, ap));
  return 1;  // handled: the global handler is not called
}

int on_warning(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
  auto* s = static_cast<State*>(user);
  if (s->warnings.size() < 16) s->warnings.push_back(format(fmt, ap));
  return 1;
}

bool contains(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }

// Our own header check gives the fixed signature texts, whatever libtiff
// would say about a short or foreign file.
std::expected<void, std::string> check_signature(ByteStream& stream) {
  std::array<std::uint8_t, 4> head{};
  std::size_t have = 0;
  while (have < head.size()) {
    auto got = stream.read(std::span(head.data() + have, head.size() - have));
    if (!got) return std::unexpected(got.error());
    if (*got == 0) break;
    have += *got;
  }
  if (auto r = stream.seek(0, SeekFrom::start); !r) return std::unexpected(r.error());
  const bool ii = have >= 2 && head[0] == 'I' && head[1] == 'I';
  const bool mm = have >= 2 && head[0] == 'M' && head[1] == 'M';
  if (!ii && !mm) return std::unexpected(std::string("format error: TIFF signature not found"));
  if (have < 4) return std::unexpected(std::string("unexpected end of file"));
  const unsigned magic = ii ? head[2] | (head[3] << 8) : (head[2] << 8) | head[3];
  if (magic != 42 && magic != 43) return std::unexpected(std::string("format error: TIFF signature invalid"));
  return {};
}

std::string describe(const State& state, std::string_view fallback);

}  // namespace

std::string map_libtiff_error(const std::string& m) {
  if (contains(m, "bad magic number")) return "format error: TIFF signature not found";
  if (contains(m, "bad version number")) return "format error: TIFF signature invalid";
  if (contains(m, "Cannot read TIFF header")) return "unexpected end of file";
  if (contains(m, "looping") || contains(m, "Cycle detected") || contains(m, "IFD loop")) {
    return "format error: file contained a cycle in the list of IFDs";
  }
  if (contains(m, "directory count") || contains(m, "Failed to read directory") ||
      contains(m, "Can not read TIFF directory") || contains(m, "Error fetching directory count")) {
    return "format error: image file directory not found";
  }
  if (contains(m, "byte limit") || contains(m, "beyond the") || contains(m, "max_single_mem_alloc") ||
      contains(m, "Memory allocation of")) {
    return std::string(LIMITS_EXCEEDED);
  }
  if (contains(m, "Compression scheme") && contains(m, "not implemented")) {
    unsigned scheme = 0;
    std::sscanf(m.c_str(), "Compression scheme %u", &scheme);
    return "unsupported error: compression method " + std::to_string(scheme) + " is unsupported";
  }
  if (contains(m, "Zero dimension") || contains(m, "Cannot handle zero")) {
    return "format error: inconsistent sizes encountered";
  }
  return m;
}

namespace {

std::string describe(const State& state, std::string_view fallback) {
  if (!state.errors.empty()) return map_libtiff_error(state.errors.front());
  if (state.warnings.empty()) return std::string(fallback);
  return std::string(fallback) + ": " + state.warnings.front();
}

}  // namespace

std::expected<TiffDecoder, std::string> TiffDecoder::open(std::unique_ptr<ByteStream> stream) {
  auto state = std::make_unique<State>();
  state->stream = std::move(stream);
  if (auto r = check_signature(*state->stream); !r) return std::unexpected(r.error());

  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return std::unexpected(std::string(LIMITS_EXCEEDED));
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(MAX_DECODING_BUFFER));
  TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, state.get());
  TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, state.get());
  // "r": read-only; "m": never memory-map; "O": strip and tile offsets are
  // fetched entry by entry when a chunk is read, so walking the IFDs reads
  // no offset arrays and a window reads only the entries beneath it.
  TIFF* tif = TIFFClientOpenExt("tiff", "rmO", state.get(), read_proc, write_proc, seek_proc, close_proc,
                                size_proc, map_proc, unmap_proc, options);
  TIFFOpenOptionsFree(options);
  if (tif == nullptr) return std::unexpected(describe(*state, "format error: image file directory not found"));
  return TiffDecoder(std::move(state), tif);
}

std::string TiffDecoder::error_text(std::string_view fallback) const { return describe(*state_, fallback); }

std::uint32_t TiffDecoder::width() const {
  std::uint32_t w = 0;
  TIFFGetField(tif_.get(), TIFFTAG_IMAGEWIDTH, &w);
  return w;
}

std::uint32_t TiffDecoder::height() const {
  std::uint32_t h = 0;
  TIFFGetField(tif_.get(), TIFFTAG_IMAGELENGTH, &h);
  return h;
}

bool TiffDecoder::has_next_ifd() const { return TIFFLastDirectory(tif_.get()) == 0; }

std::expected<void, std::string> TiffDecoder::next_ifd() {
  clear_errors();
  if (TIFFReadDirectory(tif_.get()) != 1) return std::unexpected(error_text("format error: image file directory not found"));
  return {};
}

std::expected<void, std::string> TiffDecoder::go_to_ifd(std::uint64_t index) {
  clear_errors();
  if (index > UINT32_MAX - 1 || TIFFSetDirectory(tif_.get(), static_cast<tdir_t>(index)) != 1) {
    return std::unexpected(error_text("format error: image file directory not found"));
  }
  return {};
}

std::optional<std::vector<std::uint16_t>> TiffDecoder::raw_short_tag(std::uint16_t tag) {
  ByteStream& s = *state_->stream;
  const std::uint64_t saved = s.position();
  const bool big_endian = (TIFFIsByteSwapped(tif_.get()) != 0) == (std::endian::native == std::endian::little);
  const bool big_tiff = TIFFIsBigTIFF(tif_.get()) != 0;
  auto get = [&](const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(big_endian ? p[n - 1 - i] : p[i]) << (8 * i);
    return v;
  };
  auto read_at = [&](std::uint64_t at, std::span<std::uint8_t> out) {
    return at <= static_cast<std::uint64_t>(INT64_MAX) && s.seek(static_cast<std::int64_t>(at), SeekFrom::start) &&
           read_exact(s, out);
  };
  std::optional<std::vector<std::uint16_t>> result;
  const std::uint64_t dir = TIFFCurrentDirOffset(tif_.get());
  const int count_size = big_tiff ? 8 : 2;
  const int entry_size = big_tiff ? 20 : 12;
  std::array<std::uint8_t, 20> e{};
  if (read_at(dir, std::span(e.data(), static_cast<std::size_t>(count_size)))) {
    const std::uint64_t entries = std::min<std::uint64_t>(get(e.data(), count_size), 65536);
    for (std::uint64_t i = 0; i < entries; ++i) {
      if (!read_at(dir + count_size + i * entry_size, std::span(e.data(), static_cast<std::size_t>(entry_size)))) break;
      if (get(e.data(), 2) != tag) continue;
      const std::uint64_t n = big_tiff ? get(e.data() + 4, 8) : get(e.data() + 4, 4);
      if (get(e.data() + 2, 2) != TIFF_SHORT || n == 0 || n * 2 > MAX_TAG_VALUE) break;
      std::vector<std::uint8_t> raw(static_cast<std::size_t>(n * 2));
      const int field = big_tiff ? 8 : 4;
      const std::uint8_t* value = e.data() + (big_tiff ? 12 : 8);
      if (raw.size() <= static_cast<std::size_t>(field)) {
        std::memcpy(raw.data(), value, raw.size());
      } else if (!read_at(get(value, field), raw)) {
        break;
      }
      std::vector<std::uint16_t> values(static_cast<std::size_t>(n));
      for (std::size_t j = 0; j < values.size(); ++j) values[j] = static_cast<std::uint16_t>(get(raw.data() + 2 * j, 2));
      result = std::move(values);
      break;
    }
  }
  (void)s.seek(static_cast<std::int64_t>(saved), SeekFrom::start);
  return result;
}

std::optional<std::string> TiffDecoder::ascii_tag(std::uint32_t tag) const {
  const TIFFField* field = TIFFFindField(tif_.get(), tag, TIFF_ANY);
  if (field == nullptr || TIFFFieldDataType(field) != TIFF_ASCII) return std::nullopt;
  const char* data = nullptr;
  std::uint64_t count = 0;
  if (TIFFFieldPassCount(field)) {
    if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
      std::uint32_t n = 0;
      if (TIFFGetField(tif_.get(), tag, &n, &data) != 1) return std::nullopt;
      count = n;
    } else {
      std::uint16_t n = 0;
      if (TIFFGetField(tif_.get(), tag, &n, &data) != 1) return std::nullopt;
      count = n;
    }
  } else {
    if (TIFFGetField(tif_.get(), tag, &data) != 1 || data == nullptr) return std::nullopt;
    count = std::strlen(data) + 1;
  }
  if (data == nullptr || count > MAX_TAG_VALUE) return std::nullopt;
  std::string text(data, static_cast<std::size_t>(count));
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace brindle::tiff
