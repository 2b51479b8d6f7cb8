// Framed bytes as the host would send them: framing limits, then a full
// decode of whatever the framing accepts.
#include <cstddef>
#include <cstdint>

#include "plugin_protocol/framing.h"
#include "plugin_protocol/messages.h"

namespace {

// Lists of zero-sized elements cost the reader one word each, so a short
// message may decode millions of them; re-encoding those would measure the
// builder, not the decoder.
std::size_t list_elements(const brindle::Message& m) {
  std::size_t n = 0;
  if (const auto* req = std::get_if<brindle::Request>(&m)) {
    if (const auto* o = std::get_if<11>(&req->body)) n += o->pairs.size();
    if (const auto* o = std::get_if<20>(&req->body)) n += o->pairs.size();
  } else if (const auto* resp = std::get_if<brindle::Response>(&m)) {
    if (const auto* r = std::get_if<2>(&resp->body)) n += r->size();
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  auto framed = brindle::read_message(bytes);
  if (framed && *framed) {
    auto message = brindle::decode_message(**framed);
    // A decoded message must encode and decode to itself.
    if (message && list_elements(*message) < 4096) {
      auto again = brindle::read_message(brindle::encode_message(*message));
      auto back = brindle::decode_message(**again);
      if (!back || !(*back == *message)) __builtin_trap();
    }
  }
  return 0;
}
