// The TIFF decoder: a libtiff handle opened with TIFFClientOpenExt on one of
// our own streams.
//
// A TiffDecoder owns the stream it reads and the libtiff handle; both die
// with it. libtiff's errors and warnings are caught by per-handle handlers
// and kept here (nothing reaches standard error); `error_text()` turns the
// first error since the last `clear_errors()` into the text the host sees.
// Decoding limits hold whatever a file claims.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doc/byte_stream.h"

namespace brindle::tiff {

inline constexpr std::uint64_t MAX_DECODING_BUFFER = 256ull << 20;   // one decoding buffer
inline constexpr std::uint64_t MAX_TAG_VALUE = 1ull << 20;           // one IFD tag value we read
inline constexpr std::uint64_t MAX_INTERMEDIATE_BUFFER = 128ull << 20;  // one intermediate buffer
inline constexpr std::string_view LIMITS_EXCEEDED = "decoder limits exceeded";

class TiffDecoder {
 public:
  // Reads the header and IFD 0. The error is a decoder failure text without
  // the "tiff: " prefix.
  static std::expected<TiffDecoder, std::string> open(std::unique_ptr<ByteStream> stream);

  TIFF* handle() const { return tif_.get(); }
  ByteStream& stream() { return *state_->stream; }

  // The text for the first libtiff error since the last clear; without one,
  // `fallback` followed by the first warning since then, if any.
  std::string error_text(std::string_view fallback) const;
  void clear_errors() {
    state_->errors.clear();
    state_->warnings.clear();
  }

  std::uint32_t width() const;
  std::uint32_t height() const;
  // Follows the chain of top-level IFDs.
  bool has_next_ifd() const;
  std::expected<void, std::string> next_ifd();
  std::expected<void, std::string> go_to_ifd(std::uint64_t index);

  // Tag access by number on the current IFD. nullopt: absent. The text of
  // an ASCII tag keeps every stored byte except the single terminating NUL.
  std::optional<std::string> ascii_tag(std::uint32_t tag) const;
  // The SHORT values of a tag of the current IFD read from the raw entry,
  // for values libtiff refuses (a ColorMap shorter than 3 * 2^bits). At
  // most MAX_TAG_VALUE bytes; nullopt when absent or unreadable.
  std::optional<std::vector<std::uint16_t>> raw_short_tag(std::uint16_t tag);

  struct State {
    std::unique_ptr<ByteStream> stream;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
  };

 private:
  struct Closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
  };
  TiffDecoder(std::unique_ptr<State> state, TIFF* tif) : state_(std::move(state)), tif_(tif) {}
  // Declared first so it outlives the handle: its address is libtiff's
  // client data and error-handler data, stable across moves.
  std::unique_ptr<State> state_;
  std::unique_ptr<TIFF, Closer> tif_;
};

// Maps one libtiff error message to the decoder failure text shown to users.
std::string map_libtiff_error(const std::string& message);

}  // namespace brindle::tiff
