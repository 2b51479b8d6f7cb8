#include "host_session.h"

#include <algorithm>

#include "host_segment.h"
#include "host_socket.h"
#include "plugin_protocol/framing.h"

namespace brindle::host {
namespace {

constexpr int CONNECT_TIMEOUT_MS = 10'000;

// Points the body's output_segment (if it has one) at `name`.
void set_output(RequestBody& body, const std::string& name) {
  std::visit(
      [&](auto& member) {
        if constexpr (requires { member.output_segment; }) member.output_segment = name;
      },
      body);
}

}  // namespace

std::string error_code_name(ErrorCode code) {
  switch (code) {
    case ErrorCode::failed: return "failed";
    case ErrorCode::not_found: return "not_found";
    case ErrorCode::unsupported: return "unsupported";
    case ErrorCode::too_large: return "too_large";
    default: return "code " + std::to_string(static_cast<int>(code));
  }
}

std::expected<HostSession, std::string> HostSession::start(const std::string& plugin_exe,
                                                          const std::vector<std::string>& extra_args) {
  const std::string name = unique_name("brindle-preview");
  auto listener = listen_abstract(name);
  if (!listener) return std::unexpected(listener.error());
  std::vector<std::string> argv{plugin_exe, name};
  argv.insert(argv.end(), extra_args.begin(), extra_args.end());
  auto child = ChildProcess::spawn(argv);
  if (!child) return std::unexpected(child.error());
  auto conn = accept_while(listener->get(), CONNECT_TIMEOUT_MS, [&] { return child->running(); });
  if (!conn) {
    auto exit = child->wait(0);
    return std::unexpected(conn.error() + (exit.stderr_text.empty() ? "" : ": " + exit.stderr_text));
  }
  HostSession session(std::move(*child), std::move(*conn));
  auto hello = session.read_message();
  if (!hello) return std::unexpected("reading hello: " + hello.error());
  if (!*hello || !std::holds_alternative<Hello>(**hello))
    return std::unexpected("the plug-in did not greet with hello");
  session.plugin_id_ = std::get<Hello>(**hello).plugin_id;
  return session;
}

std::expected<void, std::string> HostSession::send_bytes(std::span<const std::uint8_t> bytes) {
  return write_message(socket_.get(), bytes);
}

std::expected<std::optional<Message>, std::string> HostSession::read_message() {
  auto framed = brindle::read_message(socket_.get());
  if (!framed) return std::unexpected(framed.error());
  if (!*framed) return std::optional<Message>{};
  auto message = decode_message(**framed);
  if (!message) return std::unexpected(message.error());
  return std::optional<Message>(std::move(*message));
}

std::expected<Response, std::string> HostSession::exchange(RequestBody body) {
  const std::uint64_t id = next_request_id_++;
  if (auto sent = send_bytes(encode_message(Request{id, std::move(body)})); !sent)
    return std::unexpected("sending request: " + sent.error());
  for (;;) {
    auto message = read_message();
    if (!message) return std::unexpected("reading response: " + message.error());
    if (!*message) return std::unexpected("the plug-in closed the connection");
    auto* response = std::get_if<Response>(&**message);
    if (!response) continue;
    if (response->request_id != id) return std::unexpected("response for another request");
    return std::move(*response);
  }
}

std::expected<Reply, std::string> HostSession::request(RequestBody body, std::uint64_t output_size) {
  auto output = HostSegment::create(output_size);
  if (!output) return std::unexpected(output.error());
  set_output(body, output->name());
  auto response = exchange(std::move(body));
  if (!response) return std::unexpected(response.error());
  Reply reply;
  if (auto* err = std::get_if<RESPONSE_ERROR>(&response->body)) {
    reply.error_code = err->code;
    reply.error_message = err->message;
  } else if (auto* written = std::get_if<RESPONSE_WRITTEN>(&response->body)) {
    reply.written = written->value;
    auto bytes = output->bytes();
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(written->value, bytes.size()));
    reply.payload.emplace(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
  } else {
    return std::unexpected("unexpected response kind " + std::to_string(response->body.index()));
  }
  return reply;
}

std::expected<Reply, std::string> HostSession::render_path(const std::string& path, std::uint64_t output_size) {
  return request(RequestBody(std::in_place_index<REQUEST_RENDER>, RenderRequest{"", 0, "", output_size, path}),
                 output_size);
}

std::expected<Reply, std::string> HostSession::render_bytes(std::span<const std::uint8_t> bytes,
                                                            std::uint64_t output_size) {
  auto input = HostSegment::create(bytes.size());
  if (!input) return std::unexpected(input.error());
  std::copy(bytes.begin(), bytes.end(), input->bytes().begin());
  return request(RequestBody(std::in_place_index<REQUEST_RENDER>,
                             RenderRequest{input->name(), bytes.size(), "", output_size, ""}),
                 output_size);
}

std::expected<Reply, std::string> HostSession::render_level(std::uint32_t level, std::uint64_t output_size) {
  return request(RequestBody(std::in_place_index<REQUEST_RENDER_LEVEL>, RenderLevelRequest{level, output_size, ""}),
                 output_size);
}

std::expected<Reply, std::string> HostSession::render_region(std::uint32_t level, std::uint32_t x, std::uint32_t y,
                                                             std::uint32_t width, std::uint32_t height,
                                                             std::uint64_t output_size) {
  return request(RequestBody(std::in_place_index<REQUEST_RENDER_REGION>,
                             RenderRegionRequest{level, x, y, width, height, output_size, ""}),
                 output_size);
}

ProcessExit HostSession::finish(int timeout_ms) {
  socket_.reset();
  return child_.wait(timeout_ms);
}

}  // namespace brindle::host
