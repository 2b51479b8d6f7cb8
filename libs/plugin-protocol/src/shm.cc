#include "plugin_protocol/shm.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace brindle {
namespace {

std::unexpected<std::string> map_open_failed(int err) {
  return std::unexpected("shared memory: MapOpenFailed(" + std::to_string(err) + ")");
}

}  // namespace

std::size_t SharedSegment::read_prefix(std::span<std::uint8_t> out) const {
  const std::size_t want = std::min(out.size(), size_);
  std::size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pread(fd_.get(), out.data() + done, want - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the host shrank the segment
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t SharedSegment::write_prefix(std::span<const std::uint8_t> bytes) {
  const std::size_t want = std::min(bytes.size(), size_);
  std::size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pwrite(fd_.get(), bytes.data() + done, want - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // tmpfs full
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::expected<SharedSegment, std::string> open_segment(std::string_view name) {
  if (name.size() > MAX_SEGMENT_NAME) return map_open_failed(ENAMETOOLONG);
  if (name.find('\0') != std::string_view::npos) return map_open_failed(EINVAL);
  std::string owned(name);
  Fd fd(::shm_open(owned.c_str(), O_RDWR, 0400));
  if (!fd.valid()) return map_open_failed(errno);
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return map_open_failed(errno);
  if (st.st_size <= 0) return map_open_failed(EINVAL);
  return SharedSegment(std::move(owned), std::move(fd), static_cast<std::size_t>(st.st_size));
}

std::expected<std::vector<std::uint8_t>, std::string> read_input(std::string_view name, std::uint64_t declared_size) {
  auto segment = open_segment(name);
  if (!segment) return std::unexpected(segment.error());
  std::vector<std::uint8_t> out(static_cast<std::size_t>(std::min<std::uint64_t>(segment->size(), declared_size)));
  out.resize(segment->read_prefix(out));
  return out;
}

std::expected<std::uint64_t, std::string> write_output(std::string_view name, std::span<const std::uint8_t> payload) {
  auto segment = open_segment(name);
  if (!segment) return std::unexpected(segment.error());
  return segment->write_prefix(payload);
}

}  // namespace brindle
