#include "host_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "plugin_protocol/framing.h"

namespace brindle::host {

std::string unique_name(std::string_view prefix) {
  static std::atomic<unsigned> counter{0};
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::string(prefix) + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(ts.tv_nsec);
}

std::expected<Fd, std::string> listen_abstract(std::string_view name) {
  sockaddr_un addr{};
  if (name.size() + 1 > sizeof(addr.sun_path)) return std::unexpected("socket name too long");
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return std::unexpected("socket: " + os_error_text(errno));
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0)
    return std::unexpected("bind: " + os_error_text(errno));
  if (::listen(fd.get(), 4) != 0) return std::unexpected("listen: " + os_error_text(errno));
  return fd;
}

std::expected<Fd, std::string> accept_one(int listener, int timeout_ms, bool (*still_alive)(void*), void* ctx) {
  constexpr int STEP_MS = 20;
  for (int waited = 0; waited < timeout_ms; waited += STEP_MS) {
    pollfd p{listener, POLLIN, 0};
    const int rc = ::poll(&p, 1, STEP_MS);
    if (rc > 0) {
      Fd conn(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
      if (!conn.valid()) return std::unexpected("accept: " + os_error_text(errno));
      return conn;
    }
    if (rc < 0 && errno != EINTR) return std::unexpected("poll: " + os_error_text(errno));
    if (!still_alive(ctx)) return std::unexpected("the plug-in exited before connecting");
  }
  return std::unexpected("the plug-in did not connect in time");
}

}  // namespace brindle::host
