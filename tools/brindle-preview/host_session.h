// One plug-in process driven the way the file manager drives it: an abstract
// listening socket, the plug-in started with its name, `hello` read, then
// one request at a time with host-created shared-memory segments.
//
// The session owns the child process, the socket and every segment it
// creates; segments are unlinked before each call returns, on every path.
// Destroying the session closes the socket (the plug-in then exits 0) and
// reaps the child.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "plugin_protocol/error_code.h"
#include "plugin_protocol/fd.h"

namespace brindle::host {

// What one request came back with.
struct Reply {
  // Set for `written`: the first `written` bytes of the output segment.
  std::optional<std::vector<std::uint8_t>> payload;
  std::uint64_t written = 0;
  // Set for `error`.
  std::optional<ErrorCode> error_code;
  std::string error_message;

  bool ok() const { return payload.has_value(); }
};

struct ProcessExit {
  bool exited = false;  // false: killed by a signal
  int status = 0;       // exit status or signal number
  std::string stderr_text;
};

class HostSession {
 public:
  // Starts `plugin_exe` with a fresh socket name and waits for its hello.
  static std::expected<HostSession, std::string> start(const std::string& plugin_exe);

  HostSession(HostSession&&) noexcept;
  HostSession& operator=(HostSession&&) noexcept;
  ~HostSession();

  const std::string& plugin_id() const { return plugin_id_; }
  pid_t pid() const { return pid_; }

  // render by path (input segment not used).
  std::expected<Reply, std::string> render_path(const std::string& path, std::uint64_t output_size);
  // render with the file's bytes in a fresh input segment.
  std::expected<Reply, std::string> render_bytes(const std::vector<std::uint8_t>& bytes, std::uint64_t output_size);
  std::expected<Reply, std::string> render_level(std::uint32_t level, std::uint64_t output_size);
  std::expected<Reply, std::string> render_region(std::uint32_t level, std::uint32_t x, std::uint32_t y,
                                                  std::uint32_t width, std::uint32_t height,
                                                  std::uint64_t output_size);

  // Closes the socket and waits for the plug-in to end.
  ProcessExit finish();

 private:
  HostSession() = default;
  Fd socket_;
  pid_t pid_ = -1;
  Fd stderr_pipe_;
  std::string plugin_id_;
  std::uint64_t next_request_id_ = 1;
  friend class SessionAccess;
};

// Human-readable name of an error code ("failed", "not_found", ...).
std::string error_code_name(ErrorCode code);

}  // namespace brindle::host
