// Host-side helpers for the plug-in connection: a fresh abstract socket name
// and a listening socket bound to it.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "plugin_protocol/fd.h"

namespace brindle::host {

// A name no other session of this machine uses (pid, a counter and time).
std::string unique_name(std::string_view prefix);

// A blocking AF_UNIX stream socket listening at the abstract address `name`.
std::expected<Fd, std::string> listen_abstract(std::string_view name);

// Waits up to `timeout_ms` for a connection on `listener`; fails early when
// `still_alive` returns false (the plug-in died before connecting).
template <typename Alive>
std::expected<Fd, std::string> accept_while(int listener, int timeout_ms, Alive still_alive);

std::expected<Fd, std::string> accept_one(int listener, int timeout_ms, bool (*still_alive)(void*), void* ctx);

template <typename Alive>
std::expected<Fd, std::string> accept_while(int listener, int timeout_ms, Alive still_alive) {
  return accept_one(
      listener, timeout_ms, [](void* c) { return (*static_cast<Alive*>(c))(); }, &still_alive);
}

}  // namespace brindle::host
