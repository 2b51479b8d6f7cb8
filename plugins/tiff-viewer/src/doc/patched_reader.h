// Palette patching: every PhotometricInterpretation entry of value 3
// (Palette) is rewritten to 1 (BlackIsZero) while a file is read, so the TIFF
// decoder hands back palette indices as grey samples and the raster
// conversion applies the ColorMap itself.
//
// scan_palette_patches reads the raw IFD chains (never pixel data) and lists
// the bytes to rewrite; PatchedReader owns an inner stream and its own copy of
// the patch list and overlays the patches on every read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "doc/byte_stream.h"

namespace brindle::tiff {

struct BytePatch {
  std::uint64_t offset = 0;          // absolute offset in the source stream
  std::vector<std::uint8_t> bytes;  // replacement bytes from offset on

  bool operator==(const BytePatch&) const = default;
};

inline constexpr std::size_t MAX_SCANNED_IFDS = 4096;
inline constexpr std::uint64_t MAX_SCANNED_ENTRIES = 65536;

// Lists the palette patches of every top-level IFD. Structural oddities
// (unknown header, loops, too many IFDs, an unreadable next-IFD offset) end
// the scan with what was found; a failed read of an entry count or an entry
// fails the whole scan.
std::expected<std::vector<BytePatch>, std::string> scan_palette_patches(ByteStream& stream);

class PatchedReader final : public ByteStream {
 public:
  PatchedReader(std::unique_ptr<ByteStream> inner, std::vector<BytePatch> patches);

  std::expected<std::size_t, std::string> read(std::span<std::uint8_t> out) override;
  std::expected<std::uint64_t, std::string> seek(std::int64_t offset, SeekFrom from) override;
  std::uint64_t position() const override { return position_; }
  std::uint64_t size() const override { return inner_->size(); }
  ByteStream& inner() { return *inner_; }

 private:
  std::unique_ptr<ByteStream> inner_;
  std::vector<BytePatch> patches_;
  std::uint64_t position_ = 0;
};

}  // namespace brindle::tiff
