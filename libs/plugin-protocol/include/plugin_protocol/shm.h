// POSIX named shared-memory segments created by the host and named in each
// render request. The plug-in never creates, resizes or unlinks one: it
// opens it, copies bytes in or out, and closes it again within the handling
// of one request.
//
// Copies go through the descriptor (pread/pwrite) rather than a mapping:
// the kernel then fills the segment's pages without a page fault per 4 KiB
// (the dominant cost of a mapped copy into fresh pages), and a segment that
// the host shrinks meanwhile gives a short copy instead of SIGBUS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_protocol/fd.h"

namespace brindle {

inline constexpr std::size_t MAX_SEGMENT_NAME = 4095;

// An open segment of non-zero size. Destruction closes the descriptor; the
// segment itself stays for the host.
class SharedSegment {
 public:
  SharedSegment(SharedSegment&&) noexcept = default;
  SharedSegment& operator=(SharedSegment&&) noexcept = default;

  const std::string& name() const { return name_; }
  std::size_t size() const { return size_; }

  // Copies the first min(size(), out.size()) bytes into `out`; returns the
  // count actually read.
  std::size_t read_prefix(std::span<std::uint8_t> out) const;
  // Copies min(size(), bytes.size()) bytes to offset 0; returns the count.
  std::size_t write_prefix(std::span<const std::uint8_t> bytes);

 private:
  friend std::expected<SharedSegment, std::string> open_segment(std::string_view name);
  SharedSegment(std::string name, Fd fd, std::size_t size) : name_(std::move(name)), fd_(std::move(fd)), size_(size) {}

  std::string name_;
  Fd fd_;
  std::size_t size_ = 0;
};

// Opens `name` read-write. A segment of size 0 cannot be used and fails
// with EINVAL, as mapping it would. The error text is
// "shared memory: MapOpenFailed(<errno>)".
std::expected<SharedSegment, std::string> open_segment(std::string_view name);

// The first min(segment size, declared_size) bytes as a new vector.
std::expected<std::vector<std::uint8_t>, std::string> read_input(std::string_view name, std::uint64_t declared_size);

// Copies min(payload size, segment size) bytes to the start of the segment
// and returns that count; the rest of the segment is left as it was.
std::expected<std::uint64_t, std::string> write_output(std::string_view name, std::span<const std::uint8_t> payload);

}  // namespace brindle
