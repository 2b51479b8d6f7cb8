#include "plugin_protocol/serve.h"

#include <exception>
#include <new>

#include "plugin_protocol/framing.h"
#include "plugin_protocol/messages.h"
#include "plugin_protocol/shm.h"

namespace brindle {
namespace {

std::expected<void, std::string> send(int fd, const Message& message) {
  const Bytes bytes = encode_message(message);
  return write_message(fd, bytes);
}

ViewerResult run_render(Viewer& viewer, const RenderRequest& r) {
  if (!r.path.empty()) return viewer.render(RenderSource::from_path(r.path));
  auto content = read_input(r.input_segment, r.input_size);
  if (!content) return plugin_error(ErrorCode::failed, "open input segment: " + content.error());
  return viewer.render(RenderSource::from_bytes(std::move(*content)));
}

// A viewer reports failures as values; an exception escaping it (an
// allocation the system refused, above all) still becomes an error reply
// instead of ending the plug-in.
template <typename Call>
ViewerResult guarded(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return plugin_error(ErrorCode::failed, "out of memory");
  } catch (const std::exception& e) {
    return plugin_error(ErrorCode::failed, e.what());
  }
}

// The reply to one request, as a response message.
Message answer(Viewer& viewer, const Request& request) {
  const auto id = request.request_id;
  ViewerResult result;
  const std::string* output = nullptr;
  switch (request.body.index()) {
    case REQUEST_RENDER: {
      const auto& r = std::get<REQUEST_RENDER>(request.body);
      output = &r.output_segment;
      result = guarded([&] { return run_render(viewer, r); });
      break;
    }
    case REQUEST_RENDER_LEVEL: {
      const auto& r = std::get<REQUEST_RENDER_LEVEL>(request.body);
      output = &r.output_segment;
      result = guarded([&] { return viewer.render_level(r.level); });
      break;
    }
    case REQUEST_RENDER_REGION: {
      const auto& r = std::get<REQUEST_RENDER_REGION>(request.body);
      output = &r.output_segment;
      result = guarded([&] { return viewer.render_region(r.level, r.x, r.y, r.width, r.height); });
      break;
    }
    default:
      return error_response(id, ErrorCode::unsupported, std::string(ONLY_RENDER_TEXT));
  }
  if (!result) return error_response(id, result.error().code, std::move(result.error().message));
  auto written = write_output(*output, *result);
  if (!written) return error_response(id, ErrorCode::failed, "open output segment: " + written.error());
  return written_response(id, *written);
}

}  // namespace

std::expected<void, std::string> serve(int fd, Viewer& viewer, std::string_view plugin_id) {
  if (auto sent = send(fd, hello_message(std::string(plugin_id))); !sent) return sent;
  for (;;) {
    auto framed = read_message(fd);
    if (!framed) return std::unexpected(framed.error());
    if (!*framed) return {};
    auto message = decode_message(**framed);
    framed->reset();  // the decoded message owns everything it needs
    if (!message) return std::unexpected(message.error());
    const auto* request = std::get_if<Request>(&*message);
    if (!request) continue;  // hello, response and extra from the host are ignored
    if (auto sent = send(fd, answer(viewer, *request)); !sent) return sent;
  }
}

}  // namespace brindle
