#include "host_segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "host_socket.h"
#include "plugin_protocol/framing.h"

namespace brindle::host {

std::expected<HostSegment, std::string> HostSegment::create(std::size_t size) {
  std::string name(1, '/');
  name += unique_name("brindle-preview");
  Fd fd(::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.valid()) return std::unexpected("shm_open " + name + ": " + os_error_text(errno));
  void* mapping = nullptr;
  std::string error;
  if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
    error = "ftruncate: " + os_error_text(errno);
  } else if (size > 0) {
    mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (mapping == MAP_FAILED) {
      mapping = nullptr;
      error = "mmap: " + os_error_text(errno);
    }
  }
  if (!error.empty()) {
    ::shm_unlink(name.c_str());
    return std::unexpected(error);
  }
  return HostSegment(std::move(name), std::move(fd), size, mapping);
}

HostSegment::HostSegment(HostSegment&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::move(other.fd_)),
      size_(std::exchange(other.size_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)) {
  other.name_.clear();
}

HostSegment::~HostSegment() {
  if (mapping_) ::munmap(mapping_, size_);
  if (!name_.empty()) ::shm_unlink(name_.c_str());
}

}  // namespace brindle::host
