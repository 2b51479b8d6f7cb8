// A raw walk of a TIFF file's chain of top-level IFDs that reads only each
// IFD's entries: the image size and NewSubfileType of every IFD, without the
// work of a full directory read per IFD. Used to choose the native images
// of multi-page files quickly; pixel data and offset arrays are never read.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "doc/byte_stream.h"

namespace brindle::tiff {

struct RawIfd {
  std::uint64_t offset = 0;
  std::uint64_t width = 0;   // 0 when absent or not a single inline value
  std::uint64_t height = 0;
  std::optional<std::uint64_t> subfile_type;
};

// Most IFDs followed in one chain; libtiff stops at the same count.
inline constexpr std::size_t MAX_WALKED_IFDS = 1 << 20;

// The IFDs of the chain in file order, starting at the IFD at `first`
// (which must be a readable IFD). The walk ends at a next-IFD offset of 0,
// at an IFD already seen, or at the first IFD that cannot be read; what was
// read before stays.
std::vector<RawIfd> walk_ifds(ByteStream& stream, std::uint64_t first);

// The offset of IFD 0 from a classic or BigTIFF header, if it has one.
std::optional<std::uint64_t> first_ifd_offset(ByteStream& stream);

}  // namespace brindle::tiff
