// Reads a whole file named by a request path into memory.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "bytes.h"

namespace brindle::exe {

// Anonymous memory mapped for one file's bytes and unmapped on
// destruction. It asks for transparent huge pages: reading a 100 MB library
// into 4 KiB pages costs 27,000 page faults, more than the whole parse.
class FileBuffer {
 public:
  static std::expected<FileBuffer, std::string> allocate(std::size_t capacity);
  FileBuffer(FileBuffer&& other) noexcept;
  FileBuffer& operator=(FileBuffer&& other) noexcept;
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;
  ~FileBuffer();

  std::uint8_t* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }

 private:
  FileBuffer(std::uint8_t* data, std::size_t capacity) : data_(data), capacity_(capacity) {}
  std::uint8_t* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// The bytes of one file, owned.
class FileBytes {
 public:
  FileBytes(FileBuffer buffer, std::size_t size) : buffer_(std::move(buffer)), size_(size) {}
  Bytes view() const { return {buffer_.data(), size_}; }
  std::size_t size() const { return size_; }

 private:
  FileBuffer buffer_;
  std::size_t size_ = 0;
};

inline constexpr std::string_view ERR_NUL_IN_PATH = "file name contained an unexpected NUL byte";
inline constexpr std::string_view ERR_NOT_REGULAR = "not a regular file";

// The file's bytes, or the operating system's description of the failure
// followed by " (os error N)". A path holding a zero byte is refused with
// ERR_NUL_IN_PATH before any system call; devices, pipes and sockets with
// ERR_NOT_REGULAR, since they may never reach an end.
std::expected<FileBytes, std::string> read_whole_file(std::string_view path);

}  // namespace brindle::exe
