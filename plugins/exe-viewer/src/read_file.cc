#include "read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::expected<std::vector<std::uint8_t>, std::string> read_whole_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected("file name contained an unexpected NUL byte");
  std::string cpath(path);
  Fd fd(::open(cpath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::unexpected(os_error(errno));

  std::vector<std::uint8_t> bytes;
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && st.st_size > 0) bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t filled = 0;
  while (true) {
    if (filled == bytes.size()) bytes.resize(bytes.size() < 4096 ? 4096 : bytes.size() * 2);
    ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace brindle::exe
