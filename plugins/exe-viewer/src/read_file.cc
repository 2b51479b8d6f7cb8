#include "read_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "plugin_protocol/fd.h"

namespace brindle::exe {

namespace {

std::string os_error(int err) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  return std::string(text) + " (os error " + std::to_string(err) + ")";
}

}  // namespace

std::expected<FileBuffer, std::string> FileBuffer::allocate(std::size_t capacity) {
  if (capacity == 0) return FileBuffer(nullptr, 0);
  void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return std::unexpected(os_error(errno));
  // Only advice: without huge pages the read is slower, not wrong.
  ::madvise(p, capacity, MADV_HUGEPAGE);
  return FileBuffer(static_cast<std::uint8_t*>(p), capacity);
}

FileBuffer::FileBuffer(FileBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
  if (this != &other) {
    if (data_) ::munmap(data_, capacity_);
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

FileBuffer::~FileBuffer() {
  if (data_) ::munmap(data_, capacity_);
}

std::expected<FileBytes, std::string> read_whole_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected(std::string(ERR_NUL_IN_PATH));
  std::string cpath(path);
  // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused
  // below anyway.
  Fd fd(::open(cpath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return std::unexpected(os_error(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::unexpected(os_error(errno));
  // A device or pipe can stream without end (/dev/zero) and would grow the
  // buffer until memory runs out. Directories go on to fail in read() with
  // the system's own error.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return std::unexpected(std::string(ERR_NOT_REGULAR));

  // Sized from the reported length; a file that turns out longer (procfs
  // files report 0) grows the buffer by doubling.
  std::size_t capacity = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  auto data = FileBuffer::allocate(capacity);
  if (!data) return std::unexpected(data.error());
  std::size_t filled = 0;
  while (true) {
    std::uint8_t probe[4096];
    std::uint8_t* dest = filled < capacity ? data->data() + filled : probe;
    std::size_t room = filled < capacity ? capacity - filled : sizeof probe;
    ssize_t n = ::read(fd.get(), dest, room);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    if (n == 0) break;
    if (dest == probe) {
      // More bytes than reported: move to a larger buffer.
      std::size_t grown = capacity < 4096 ? 8192 : capacity * 2;
      auto larger = FileBuffer::allocate(grown);
      if (!larger) return std::unexpected(larger.error());
      if (filled > 0) std::memcpy(larger->data(), data->data(), filled);
      std::memcpy(larger->data() + filled, probe, static_cast<std::size_t>(n));
      *data = std::move(*larger);
      capacity = grown;
    }
    filled += static_cast<std::size_t>(n);
  }
  return FileBytes(std::move(*data), filled);
}

}  // namespace brindle::exe
