// The raw IFD walk that finds palette entries to patch: bounded by its IFD
// and entry limits whatever the chain claims, and every patch it returns
// lies inside the file.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "doc/byte_stream.h"
#include "doc/patched_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
  brindle::tiff::MemoryStream stream(bytes);
  auto patches = brindle::tiff::scan_palette_patches(stream);
  if (patches) {
    for (const auto& p : *patches)
      if (p.offset + p.bytes.size() > size) __builtin_trap();
  }
  return 0;
}
