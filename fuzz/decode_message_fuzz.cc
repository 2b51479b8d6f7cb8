// Framed bytes as the host would send them: framing limits, then a full
// decode of whatever the framing accepts.
#include <cstddef>
#include <cstdint>

#include "plugin_protocol/framing.h"
#include "plugin_protocol/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  auto framed = brindle::read_message(bytes);
  if (framed && *framed) {
    auto message = brindle::decode_message(**framed);
    // A decoded message must encode and decode to itself.
    if (message) {
      auto again = brindle::read_message(brindle::encode_message(*message));
      auto back = brindle::decode_message(**again);
      if (!back || !(*back == *message)) __builtin_trap();
    }
  }
  return 0;
}
