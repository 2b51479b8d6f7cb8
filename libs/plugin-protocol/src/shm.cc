#include "plugin_protocol/shm.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brindle {
namespace {

std::unexpected<std::string> map_open_failed(int err) {
  return std::unexpected("shared memory: MapOpenFailed(" + std::to_string(err) + ")");
}

}  // namespace

SharedSegment::SharedSegment(SharedSegment&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::move(other.fd_)),
      size_(std::exchange(other.size_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)) {}

SharedSegment& SharedSegment::operator=(SharedSegment&& other) noexcept {
  if (this != &other) {
    unmap();
    name_ = std::move(other.name_);
    fd_ = std::move(other.fd_);
    size_ = std::exchange(other.size_, 0);
    mapping_ = std::exchange(other.mapping_, nullptr);
  }
  return *this;
}

SharedSegment::~SharedSegment() { unmap(); }

void SharedSegment::unmap() {
  if (mapping_) ::munmap(mapping_, size_);
  mapping_ = nullptr;
}

std::expected<SharedSegment, std::string> open_segment(std::string_view name) {
  if (name.size() > MAX_SEGMENT_NAME) return map_open_failed(ENAMETOOLONG);
  if (name.find('\0') != std::string_view::npos) return map_open_failed(EINVAL);
  std::string owned(name);
  Fd fd(::shm_open(owned.c_str(), O_RDWR, 0400));
  if (!fd.valid()) return map_open_failed(errno);
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return map_open_failed(errno);
  const auto size = static_cast<std::size_t>(st.st_size);
  // A zero-length mapping is refused by the kernel with EINVAL, which is
  // what the host sees for an empty segment.
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (mapping == MAP_FAILED) return map_open_failed(errno);
  return SharedSegment(std::move(owned), std::move(fd), size, mapping);
}

std::expected<std::vector<std::uint8_t>, std::string> read_input(std::string_view name, std::uint64_t declared_size) {
  auto segment = open_segment(name);
  if (!segment) return std::unexpected(segment.error());
  auto bytes = segment->bytes();
  const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), declared_size));
  return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

std::expected<std::uint64_t, std::string> write_output(std::string_view name, std::span<const std::uint8_t> payload) {
  auto segment = open_segment(name);
  if (!segment) return std::unexpected(segment.error());
  auto bytes = segment->bytes();
  const std::size_t n = std::min(payload.size(), bytes.size());
  if (n) std::memcpy(bytes.data(), payload.data(), n);
  return n;
}

}  // namespace brindle
