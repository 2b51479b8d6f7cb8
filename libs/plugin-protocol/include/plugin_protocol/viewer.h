// The seam between the protocol library and a plug-in: a plug-in supplies one
// Viewer object; sockets, messages and shared memory stay inside the library.
//
// The viewer is created once, after the host connection is made, and lives
// until the process ends. It owns whatever it keeps between requests. Bytes
// cross the seam by value: `render` receives its own copy of the input
// content, and every operation hands back an owned Payload that the library
// copies into the output segment and then frees.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "plugin_protocol/error_code.h"

namespace brindle {

// The bytes a viewer operation returns for the output segment: an image
// payload (first byte FF) or UTF-8 text.
using Payload = std::vector<std::uint8_t>;

struct PluginError {
  ErrorCode code = ErrorCode::failed;
  std::string message;

  bool operator==(const PluginError&) const = default;
};

using ViewerResult = std::expected<Payload, PluginError>;

inline std::unexpected<PluginError> plugin_error(ErrorCode code, std::string message) {
  return std::unexpected(PluginError{code, std::move(message)});
}

// The input of `render`: a file path named by the host, or the file's content
// copied out of the request's input segment.
class RenderSource {
 public:
  static RenderSource from_path(std::string path) { return RenderSource(Path{std::move(path)}); }
  static RenderSource from_bytes(std::vector<std::uint8_t> bytes) { return RenderSource(std::move(bytes)); }

  // Exactly one of these is non-null.
  const std::string* path() const {
    auto* p = std::get_if<Path>(&value_);
    return p ? &p->path : nullptr;
  }
  const std::vector<std::uint8_t>* bytes() const { return std::get_if<std::vector<std::uint8_t>>(&value_); }
  // Moves the content out (for viewers that keep it); empty for a path source.
  std::vector<std::uint8_t> take_bytes() {
    auto* b = std::get_if<std::vector<std::uint8_t>>(&value_);
    return b ? std::move(*b) : std::vector<std::uint8_t>{};
  }

 private:
  struct Path {
    std::string path;
  };
  explicit RenderSource(std::variant<Path, std::vector<std::uint8_t>> v) : value_(std::move(v)) {}
  std::variant<Path, std::vector<std::uint8_t>> value_;
};

class Viewer {
 public:
  virtual ~Viewer() = default;

  // Renders a whole document: a level table (image payload without pixels)
  // or a text payload.
  virtual ViewerResult render(RenderSource source) = 0;

  // One level of the last rendered document. Default: unsupported.
  virtual ViewerResult render_level(std::uint32_t level);

  // One window of one level. Default: unsupported.
  virtual ViewerResult render_region(std::uint32_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                                     std::uint32_t height);
};

}  // namespace brindle
