// POSIX named shared-memory segments created by the host and named in each
// render request. The plug-in never creates, resizes or unlinks one: it
// opens it, maps the whole segment, copies bytes in or out, and closes it
// again within the handling of one request.
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

// An open, mapped segment. Destruction unmaps it and closes the descriptor;
// the segment itself stays for the host.
class SharedSegment {
 public:
  SharedSegment(SharedSegment&& other) noexcept;
  SharedSegment& operator=(SharedSegment&& other) noexcept;
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;
  ~SharedSegment();

  const std::string& name() const { return name_; }
  std::size_t size() const { return size_; }
  std::span<std::uint8_t> bytes() { return {static_cast<std::uint8_t*>(mapping_), size_}; }

 private:
  friend std::expected<SharedSegment, std::string> open_segment(std::string_view name);
  SharedSegment(std::string name, Fd fd, std::size_t size, void* mapping)
      : name_(std::move(name)), fd_(std::move(fd)), size_(size), mapping_(mapping) {}
  void unmap();

  std::string name_;
  Fd fd_;
  std::size_t size_ = 0;
  void* mapping_ = nullptr;
};

// Opens and maps `name` read-write. The error text is
// "shared memory: MapOpenFailed(<errno>)".
std::expected<SharedSegment, std::string> open_segment(std::string_view name);

// The first min(segment size, declared_size) bytes as a new vector.
std::expected<std::vector<std::uint8_t>, std::string> read_input(std::string_view name, std::uint64_t declared_size);

// Copies min(payload size, segment size) bytes to the start of the segment
// and returns that count; the rest of the segment is left as it was.
std::expected<std::uint64_t, std::string> write_output(std::string_view name, std::span<const std::uint8_t> payload);

}  // namespace brindle
