// A shared-memory segment created by the host side: created with a fresh
// name and a fixed size, mapped, and unlinked and unmapped on destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "plugin_protocol/fd.h"

namespace brindle::host {

class HostSegment {
 public:
  // `size` may be 0 (an empty segment, which a plug-in cannot map).
  static std::expected<HostSegment, std::string> create(std::size_t size);

  HostSegment(HostSegment&& other) noexcept;
  HostSegment& operator=(HostSegment&&) = delete;
  ~HostSegment();

  const std::string& name() const { return name_; }
  std::size_t size() const { return size_; }
  std::span<std::uint8_t> bytes() { return {static_cast<std::uint8_t*>(mapping_), size_}; }

 private:
  HostSegment(std::string name, Fd fd, std::size_t size, void* mapping)
      : name_(std::move(name)), fd_(std::move(fd)), size_(size), mapping_(mapping) {}

  std::string name_;
  Fd fd_;
  std::size_t size_ = 0;
  void* mapping_ = nullptr;
};

}  // namespace brindle::host
