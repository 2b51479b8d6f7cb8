// Seekable read-only byte streams over a file or over bytes in memory.
//
// A stream owns what it reads from: a FileStream owns its descriptor and its
// 8192-byte read buffer; a MemoryStream shares ownership of the bytes, so it
// stays valid even when the document that handed them over is replaced.
// Every stream has its own position. Errors are returned as text.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "plugin_protocol/fd.h"

namespace brindle::tiff {

enum class SeekFrom { start, current, end };

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Reads up to out.size() bytes; returns how many were read (0 at the end).
  virtual std::expected<std::size_t, std::string> read(std::span<std::uint8_t> out) = 0;
  // Moves the position and returns the new absolute position. A position
  // before 0 is an error; one past the end is allowed (reads then give 0).
  virtual std::expected<std::uint64_t, std::string> seek(std::int64_t offset, SeekFrom from) = 0;
  virtual std::uint64_t position() const = 0;
  virtual std::uint64_t size() const = 0;
};

// Reads exactly out.size() bytes or fails with "unexpected end of file".
std::expected<void, std::string> read_exact(ByteStream& stream, std::span<std::uint8_t> out);

inline constexpr std::size_t FILE_READ_BUFFER = 8192;

class FileStream final : public ByteStream {
 public:
  // Opens `path` read-only; the error text is "open {path}: {reason}".
  static std::expected<std::unique_ptr<FileStream>, std::string> open(const std::string& path);

  std::expected<std::size_t, std::string> read(std::span<std::uint8_t> out) override;
  std::expected<std::uint64_t, std::string> seek(std::int64_t offset, SeekFrom from) override;
  std::uint64_t position() const override { return position_; }
  std::uint64_t size() const override { return size_; }
  // Bytes fetched from the operating system so far (for measurements).
  std::uint64_t bytes_fetched() const { return fetched_; }

 private:
  FileStream(Fd fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}
  Fd fd_;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  std::vector<std::uint8_t> buffer_;  // bytes [buffer_start_, buffer_start_ + buffer_.size())
  std::uint64_t buffer_start_ = 0;
  std::uint64_t fetched_ = 0;
};

class MemoryStream final : public ByteStream {
 public:
  explicit MemoryStream(std::shared_ptr<const std::vector<std::uint8_t>> bytes) : bytes_(std::move(bytes)) {}

  std::expected<std::size_t, std::string> read(std::span<std::uint8_t> out) override;
  std::expected<std::uint64_t, std::string> seek(std::int64_t offset, SeekFrom from) override;
  std::uint64_t position() const override { return position_; }
  std::uint64_t size() const override { return bytes_->size(); }

 private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
  std::uint64_t position_ = 0;
};

}  // namespace brindle::tiff
