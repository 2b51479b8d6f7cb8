// One plug-in process driven the way the file manager drives it: an abstract
// listening socket, the plug-in started with its name, `hello` read, then
// one request at a time with host-created shared-memory segments.
//
// The session owns the child process, the socket and every segment it
// creates; segments are unlinked before each call returns, on every path.
// finish() (or destruction) closes the socket, after which a healthy plug-in
// exits 0, and reaps the child.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "child_process.h"
#include "plugin_protocol/error_code.h"
#include "plugin_protocol/fd.h"
#include "plugin_protocol/messages.h"

namespace brindle::host {

// What one request came back with: `written` with the payload bytes, or an
// error reply.
struct Reply {
  std::optional<std::vector<std::uint8_t>> payload;
  std::uint64_t written = 0;
  ErrorCode error_code = ErrorCode::failed;
  std::string error_message;

  bool ok() const { return payload.has_value(); }
};

class HostSession {
 public:
  // Starts `plugin_exe` with a fresh socket name and waits for its hello.
  // `extra_args` follow the socket name on the command line.
  static std::expected<HostSession, std::string> start(const std::string& plugin_exe,
                                                       const std::vector<std::string>& extra_args = {});

  HostSession(HostSession&&) noexcept = default;
  HostSession& operator=(HostSession&&) = delete;
  ~HostSession() { finish(); }

  const std::string& plugin_id() const { return plugin_id_; }
  pid_t pid() const { return child_.pid(); }

  // render by path; the input segment is not used.
  std::expected<Reply, std::string> render_path(const std::string& path, std::uint64_t output_size);
  // render with the bytes in a fresh input segment of exactly their size
  // (an empty vector gives an empty segment).
  std::expected<Reply, std::string> render_bytes(std::span<const std::uint8_t> bytes, std::uint64_t output_size);
  std::expected<Reply, std::string> render_level(std::uint32_t level, std::uint64_t output_size);
  std::expected<Reply, std::string> render_region(std::uint32_t level, std::uint32_t x, std::uint32_t y,
                                                  std::uint32_t width, std::uint32_t height,
                                                  std::uint64_t output_size);

  // Sends any request body with a fresh id and an output segment of
  // `output_size` bytes (its name is put in the body's output_segment when
  // the body has one). Used by the calls above and by tests.
  std::expected<Reply, std::string> request(RequestBody body, std::uint64_t output_size);

  // Sends `body` as it is with a fresh id and returns the response to it.
  std::expected<Response, std::string> exchange(RequestBody body);

  // Raw access for tests: send bytes, read the next decoded message.
  std::expected<void, std::string> send_bytes(std::span<const std::uint8_t> bytes);
  std::expected<std::optional<Message>, std::string> read_message();

  // Closes the socket and waits up to `timeout_ms` for the plug-in to end.
  ProcessExit finish(int timeout_ms = 10'000);

 private:
  HostSession(ChildProcess child, Fd socket) : child_(std::move(child)), socket_(std::move(socket)) {}

  ChildProcess child_;
  Fd socket_;
  std::string plugin_id_;
  std::uint64_t next_request_id_ = 1;
};

// "failed", "not_found", ... for messages.
std::string error_code_name(ErrorCode code);

}  // namespace brindle::host
