// libheif objects under RAII: a decoding context opened on a file or on
// bytes, the primary image handle, and a decoded image.
//
// Each wrapper holds a pointer to the process-wide HeifLibrary (which never
// goes away) and releases its object on destruction. libheif requires
// images to go before their handle and handles before their context:
// declare them in the order context, handle, image so that scope exit
// releases them in reverse. A context opened on bytes reads them in place;
// the HeifSource must outlive it.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "heif/heif_library.h"

namespace brindle::heif {

// What a context is opened on: a file path, or the file's bytes (owned by
// whoever owns the source, normally the document).
using HeifSource = std::variant<std::string, std::vector<std::uint8_t>>;

// Owns one libheif object of type T, released with `release` of the library.
template <class T>
class LibheifObject {
 public:
  LibheifObject() = default;
  LibheifObject(const HeifLibrary* lib, T* object) : lib_(lib), object_(object) {}
  LibheifObject(LibheifObject&& other) noexcept
      : lib_(other.lib_), object_(std::exchange(other.object_, nullptr)) {}
  LibheifObject& operator=(LibheifObject&& other) noexcept {
    if (this != &other) {
      reset();
      lib_ = other.lib_;
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  LibheifObject(const LibheifObject&) = delete;
  LibheifObject& operator=(const LibheifObject&) = delete;
  ~LibheifObject() { reset(); }

  T* get() const { return object_; }
  const HeifLibrary& lib() const { return *lib_; }
  void reset();

 private:
  const HeifLibrary* lib_ = nullptr;
  T* object_ = nullptr;
};

template <>
inline void LibheifObject<LibheifContext>::reset() {
  if (object_) lib_->context_free(std::exchange(object_, nullptr));
}
template <>
inline void LibheifObject<LibheifHandle>::reset() {
  if (object_) lib_->image_handle_release(std::exchange(object_, nullptr));
}
template <>
inline void LibheifObject<LibheifImage>::reset() {
  if (object_) lib_->image_release(std::exchange(object_, nullptr));
}

using HeifContext = LibheifObject<LibheifContext>;
using HeifImageHandle = LibheifObject<LibheifHandle>;
using HeifImage = LibheifObject<LibheifImage>;

// A context that has read `source`, or the message why not (library
// unavailable, allocation failure, path with a NUL byte, a path that names
// something other than a regular file, libheif rejection).
std::expected<HeifContext, std::string> open_context(const HeifSource& source);

// The primary image of an open context, or "no primary image" (with
// libheif's message and codes when it reported an error).
std::expected<HeifImageHandle, std::string> primary_image_handle(const HeifContext& context);

}  // namespace brindle::heif
