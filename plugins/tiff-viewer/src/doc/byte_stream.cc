#include "doc/byte_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brindle::tiff {
namespace {

std::expected<std::uint64_t, std::string> resolve_seek(std::uint64_t position, std::uint64_t size,
                                                       std::int64_t offset, SeekFrom from) {
  std::int64_t base = 0;
  switch (from) {
    case SeekFrom::start: base = 0; break;
    case SeekFrom::current: base = static_cast<std::int64_t>(position); break;
    case SeekFrom::end: base = static_cast<std::int64_t>(size); break;
  }
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) {
    return std::unexpected(std::string("invalid seek to a negative or overflowing position"));
  }
  return static_cast<std::uint64_t>(target);
}

}  // namespace

std::expected<void, std::string> read_exact(ByteStream& stream, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    auto got = stream.read(out.subspan(done));
    if (!got) return std::unexpected(got.error());
    if (*got == 0) return std::unexpected(std::string("unexpected end of file"));
    done += *got;
  }
  return {};
}

std::expected<std::unique_ptr<FileStream>, std::string> FileStream::open(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::unexpected("open " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::unexpected("open " + path + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return std::unexpected("open " + path + ": " + std::strerror(EISDIR));
  return std::unique_ptr<FileStream>(new FileStream(std::move(fd), static_cast<std::uint64_t>(st.st_size)));
}

std::expected<std::size_t, std::string> FileStream::read(std::span<std::uint8_t> out) {
  if (out.empty() || position_ >= size_) return 0;
  const std::uint64_t buffer_end = buffer_start_ + buffer_.size();
  if (position_ < buffer_start_ || position_ >= buffer_end) {
    // Large reads go straight to the caller; small ones refill the buffer.
    if (out.size() >= FILE_READ_BUFFER) {
      ssize_t n;
      do n = ::pread(fd_.get(), out.data(), out.size(), static_cast<off_t>(position_));
      while (n < 0 && errno == EINTR);
      if (n < 0) return std::unexpected(std::string(std::strerror(errno)));
      fetched_ += static_cast<std::uint64_t>(n);
      position_ += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    buffer_.resize(FILE_READ_BUFFER);
    ssize_t n;
    do n = ::pread(fd_.get(), buffer_.data(), buffer_.size(), static_cast<off_t>(position_));
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      buffer_.clear();
      return std::unexpected(std::string(std::strerror(errno)));
    }
    fetched_ += static_cast<std::uint64_t>(n);
    buffer_.resize(static_cast<std::size_t>(n));
    buffer_start_ = position_;
    if (n == 0) return 0;
  }
  const std::size_t offset = static_cast<std::size_t>(position_ - buffer_start_);
  const std::size_t k = std::min(out.size(), buffer_.size() - offset);
  std::memcpy(out.data(), buffer_.data() + offset, k);
  position_ += k;
  return k;
}

std::expected<std::uint64_t, std::string> FileStream::seek(std::int64_t offset, SeekFrom from) {
  auto target = resolve_seek(position_, size_, offset, from);
  if (target) position_ = *target;
  return target;
}

std::expected<std::size_t, std::string> MemoryStream::read(std::span<std::uint8_t> out) {
  const std::uint64_t size = bytes_->size();
  if (position_ >= size) return 0;
  const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size - position_));
  std::memcpy(out.data(), bytes_->data() + position_, k);
  position_ += k;
  return k;
}

std::expected<std::uint64_t, std::string> MemoryStream::seek(std::int64_t offset, SeekFrom from) {
  auto target = resolve_seek(position_, bytes_->size(), offset, from);
  if (target) position_ = *target;
  return target;
}

}  // namespace brindle::tiff
