// The request loop: greets the host, then reads one message at a time,
// hands the three render kinds to the viewer, answers every request with
// exactly one response, and returns when the host closes the connection at a
// message boundary. A read, decode or send failure is returned as an error
// (the caller ends the process). The loop keeps nothing between requests.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "plugin_protocol/viewer.h"

namespace brindle {

inline constexpr std::string_view ONLY_RENDER_TEXT = "this is a viewer plugin and only handles render";

std::expected<void, std::string> serve(int fd, Viewer& viewer, std::string_view plugin_id);

}  // namespace brindle
