// The host connection: an AF_UNIX stream socket in the Linux abstract
// namespace, carrying Cap'n Proto messages in the standard (unpacked) stream
// framing. The socket is blocking throughout and owned by the caller.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_protocol/fd.h"

namespace brindle {

inline constexpr std::uint32_t MAX_SEGMENT_COUNT = 511;
inline constexpr std::uint64_t MAX_MESSAGE_WORDS = 8'388'608;  // 64 MiB
inline constexpr int MAX_NESTING_DEPTH = 64;

// One received message: its segments, back to back in one word-aligned
// buffer, with the size of each in 8-byte words.
struct FramedMessage {
  std::vector<std::uint64_t> words;
  std::vector<std::uint32_t> segment_sizes;
};

// Connects to the abstract socket named `name` (its bytes, unchanged). A
// name with a zero byte or of 108 bytes or more is refused before any
// system call.
std::expected<Fd, std::string> connect_to_host(std::string_view name);

// One message; std::nullopt when the peer closed the socket exactly at a
// message boundary. Framing limits (at most 511 segments, at most
// MAX_MESSAGE_WORDS in all) are checked before the body is read.
std::expected<std::optional<FramedMessage>, std::string> read_message(int fd);
// The same, from bytes in memory (for tests and fuzzing).
std::expected<std::optional<FramedMessage>, std::string> read_message(std::span<const std::uint8_t> bytes);

// Sends all of `bytes` (an encoded message). A closed peer gives an error,
// never SIGPIPE.
std::expected<void, std::string> write_message(int fd, std::span<const std::uint8_t> bytes);

// "<strerror> (os error N)".
std::string os_error_text(int err);

}  // namespace brindle
