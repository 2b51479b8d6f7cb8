#include "plugin_protocol/framing.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace brindle {
namespace {

std::uint32_t get_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string premature_end() { return "premature end of input while reading a message"; }

}  // namespace

std::string os_error_text(int err) { return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")"; }

std::expected<Fd, std::string> connect_to_host(std::string_view name) {
  if (name.find('\0') != std::string_view::npos)
    return std::unexpected("interior nul bytes are not allowed inside Unix domain socket names");
  sockaddr_un addr{};
  if (name.size() + 1 > sizeof(addr.sun_path))
    return std::unexpected("local socket name length exceeds capacity of sun_path of sockaddr_un");
  addr.sun_family = AF_UNIX;
  addr.sun_path[0] = '\0';
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return std::unexpected(os_error_text(errno));
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return std::unexpected(os_error_text(errno));
  return fd;
}

namespace {

// Receives from the socket; recv() is retried only when interrupted.
// Each source says whether it may still supply `n` bytes, so that a memory
// source refuses a truncated body before the buffer for it is allocated.
struct SocketSource {
  int fd;
  bool may_supply(std::size_t) const { return true; }
  std::expected<std::size_t, std::string> some(void* buf, std::size_t len) {
    for (;;) {
      const ssize_t n = ::recv(fd, buf, len, 0);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) return std::unexpected(os_error_text(errno));
    }
  }
};

struct MemorySource {
  std::span<const std::uint8_t> bytes;
  bool may_supply(std::size_t n) const { return n <= bytes.size(); }
  std::expected<std::size_t, std::string> some(void* buf, std::size_t len) {
    const std::size_t n = std::min(len, bytes.size());
    if (n) std::memcpy(buf, bytes.data(), n);
    bytes = bytes.subspan(n);
    return n;
  }
};

// Fills `len` bytes; end of stream before that is an error.
template <typename Source>
std::expected<void, std::string> exactly(Source& src, void* buf, std::size_t len) {
  auto* p = static_cast<std::uint8_t*>(buf);
  for (std::size_t got = 0; got < len;) {
    auto n = src.some(p + got, len - got);
    if (!n) return std::unexpected(n.error());
    if (*n == 0) return std::unexpected(premature_end());
    got += *n;
  }
  return {};
}

template <typename Source>
std::expected<std::optional<FramedMessage>, std::string> read_framed(Source& src) {
  std::uint8_t header[8];
  // The first receive alone decides whether the peer ended cleanly.
  auto first = src.some(header, sizeof header);
  if (!first) return std::unexpected(first.error());
  if (*first == 0) return std::optional<FramedMessage>{};
  if (auto rest = exactly(src, header + *first, 8 - *first); !rest) return std::unexpected(rest.error());

  const std::uint32_t count_minus_one = get_u32(header);
  if (count_minus_one >= MAX_SEGMENT_COUNT)
    return std::unexpected("message has too many segments (" + std::to_string(std::uint64_t{count_minus_one} + 1) +
                           ")");
  const std::uint32_t count = count_minus_one + 1;

  FramedMessage msg;
  msg.segment_sizes.reserve(count);
  msg.segment_sizes.push_back(get_u32(header + 4));
  if (count > 1) {
    std::vector<std::uint8_t> table((count * 4) & ~std::size_t{7});
    if (auto got = exactly(src, table.data(), table.size()); !got) return std::unexpected(got.error());
    for (std::uint32_t i = 1; i < count; ++i) msg.segment_sizes.push_back(get_u32(table.data() + (i - 1) * 4));
  }

  std::uint64_t total = 0;
  for (auto s : msg.segment_sizes) total += s;
  if (total > MAX_MESSAGE_WORDS)
    return std::unexpected("message too large: " + std::to_string(total) + " words exceed the limit of " +
                           std::to_string(MAX_MESSAGE_WORDS));

  if (!src.may_supply(total * 8)) return std::unexpected(premature_end());
  msg.words.resize(total);
  if (auto got = exactly(src, msg.words.data(), total * 8); !got) return std::unexpected(got.error());
  return std::optional<FramedMessage>(std::move(msg));
}

}  // namespace

std::expected<std::optional<FramedMessage>, std::string> read_message(int fd) {
  SocketSource src{fd};
  return read_framed(src);
}

std::expected<std::optional<FramedMessage>, std::string> read_message(std::span<const std::uint8_t> bytes) {
  MemorySource src{bytes};
  return read_framed(src);
}

std::expected<void, std::string> write_message(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error_text(errno));
    }
    if (n == 0) return std::unexpected("failed to write whole message: socket accepted no bytes");
    sent += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace brindle
