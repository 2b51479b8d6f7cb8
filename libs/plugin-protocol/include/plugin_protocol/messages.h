// Owned, decoded protocol messages and their wire encoding.
//
// Every message on the socket is one Cap'n Proto message whose root is an
// Envelope (hello, request, response or extra). A Message owns all of its
// texts, byte strings and lists: decoding copies everything out of the
// received buffer, so the buffer can be dropped before a request is handled.
//
// The request and response unions are std::variants whose alternative index
// is the wire ordinal, so `body.index()` is the discriminant. Members that
// share a layout share a C++ type; build them with std::in_place_index.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <variant>
#include <vector>

#include "plugin_protocol/error_code.h"
#include "plugin_protocol/framing.h"

namespace brindle {

using Bytes = std::vector<std::uint8_t>;

struct Pair {
  std::string first, second;
  bool operator==(const Pair&) const = default;
};

struct Record {
  std::string text;
  bool flag0 = false, flag1 = false, has_value = false;
  std::uint32_t number = 0;
  std::uint64_t count = 0;
  std::uint64_t value = 0;  // meaningful only with has_value
  bool operator==(const Record&) const = default;
};

struct Hello {
  std::uint32_t protocol_version = 0;
  std::string plugin_id;
  bool operator==(const Hello&) const = default;
};

struct Extra {
  std::uint64_t a = 0, b = 0;
  std::string text;
  bool operator==(const Extra&) const = default;
};

struct VoidMember {
  bool operator==(const VoidMember&) const = default;
};
struct TextMember {
  std::string text;
  bool operator==(const TextMember&) const = default;
};
struct U64Member {
  std::uint64_t value = 0;
  bool operator==(const U64Member&) const = default;
};
struct TwoTexts {
  std::string first, second;
  bool operator==(const TwoTexts&) const = default;
};
struct TextBool {
  std::string text;
  bool flag = false;
  bool operator==(const TextBool&) const = default;
};
struct TextU64 {
  std::string text;
  std::uint64_t value = 0;
  bool operator==(const TextU64&) const = default;
};
struct TextData {
  std::string text;
  Bytes data;
  bool operator==(const TextData&) const = default;
};
struct TextU64U64 {
  std::string text;
  std::uint64_t a = 0, b = 0;
  bool operator==(const TextU64U64&) const = default;
};
struct TextU64Data {
  std::string text;
  std::uint64_t value = 0;
  Bytes data;
  bool operator==(const TextU64Data&) const = default;
};
struct Other11 {
  std::string text;
  std::vector<Pair> pairs;
  std::string text2;
  std::uint32_t number = 0;
  bool flag0 = false, flag1 = false;
  std::uint64_t value = 0;
  bool operator==(const Other11&) const = default;
};
struct TwoTextsTwoU64 {
  std::string first, second;
  std::uint64_t a = 0, b = 0;
  bool operator==(const TwoTextsTwoU64&) const = default;
};
struct BoolPairs {
  bool flag = false;
  std::vector<Pair> pairs;
  bool operator==(const BoolPairs&) const = default;
};

struct RenderRequest {
  std::string input_segment;
  std::uint64_t input_size = 0;
  std::string output_segment;
  std::uint64_t output_size = 0;
  std::string path;
  bool operator==(const RenderRequest&) const = default;
};
struct RenderLevelRequest {
  std::uint32_t level = 0;
  std::uint64_t output_size = 0;
  std::string output_segment;
  bool operator==(const RenderLevelRequest&) const = default;
};
struct RenderRegionRequest {
  std::uint32_t level = 0, x = 0, y = 0, width = 0, height = 0;
  std::uint64_t output_size = 0;
  std::string output_segment;
  bool operator==(const RenderRegionRequest&) const = default;
};

using RequestBody =
    std::variant<TextMember, TextMember, TwoTexts, TextBool, TextMember, TextU64, TextData, VoidMember, RenderRequest,
                 TextU64U64, TextU64Data, Other11, TextMember, TextMember, TextMember, U64Member, U64Member,
                 TwoTextsTwoU64, TwoTextsTwoU64, TextMember, BoolPairs, RenderLevelRequest, RenderRegionRequest>;

inline constexpr std::size_t REQUEST_OTHER_7 = 7;
inline constexpr std::size_t REQUEST_RENDER = 8;
inline constexpr std::size_t REQUEST_RENDER_LEVEL = 21;
inline constexpr std::size_t REQUEST_RENDER_REGION = 22;

struct Request {
  std::uint64_t request_id = 0;
  RequestBody body;
  bool operator==(const Request&) const = default;
};

struct ErrorReply {
  ErrorCode code = ErrorCode::failed;
  std::string message;
  bool operator==(const ErrorReply&) const = default;
};
struct Flags11 {
  std::array<bool, 11> flags{};
  bool operator==(const Flags11&) const = default;
};
struct TwoU64 {
  std::uint64_t a = 0, b = 0;
  bool operator==(const TwoU64&) const = default;
};

using ResponseBody = std::variant<VoidMember, ErrorReply, std::vector<Record>, Bytes, Flags11, U64Member, Record,
                                  U64Member, TwoU64>;

inline constexpr std::size_t RESPONSE_ERROR = 1;
inline constexpr std::size_t RESPONSE_WRITTEN = 5;

struct Response {
  std::uint64_t request_id = 0;
  ResponseBody body;
  bool operator==(const Response&) const = default;
};

using Message = std::variant<Hello, Request, Response, Extra>;

// Decodes a received message in full. Fails on anything the schema does not
// allow: an unknown discriminant or error code, a text that is not UTF-8 or
// not NUL-terminated, a pointer of the wrong kind, a read beyond the reader
// limits (8,388,608 words traversed, nesting 64).
std::expected<Message, std::string> decode_message(const FramedMessage& message);

// Builds the framed bytes of `message` (segment table, then segments).
Bytes encode_message(const Message& message);

// Convenience builders for what a plug-in sends.
Message hello_message(std::string plugin_id);
Message written_response(std::uint64_t request_id, std::uint64_t written);
Message error_response(std::uint64_t request_id, ErrorCode code, std::string message);

}  // namespace brindle
