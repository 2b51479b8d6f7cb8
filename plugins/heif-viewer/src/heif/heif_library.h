// Run-time binding to the system libheif.
//
// libheif is never linked: "libheif.so.1" is opened through the dynamic
// loader on first use and sixteen functions are looked up by name. The
// outcome (the function table, or the reason it could not be had) is kept in
// one process-wide slot, filled at most once and never changed afterwards;
// a successful load stays mapped until the process ends. Everything here
// mirrors only the parts of libheif's C ABI that the viewer calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace brindle::heif {

inline constexpr const char* HEIF_LIBRARY_NAME = "libheif.so.1";

// libheif enumeration values passed across the ABI.
inline constexpr int HEIF_COMPRESSION_HEVC = 1;
inline constexpr int HEIF_COLORSPACE_RGB = 1;
inline constexpr int HEIF_CHROMA_INTERLEAVED_RGB = 10;
inline constexpr int HEIF_CHROMA_INTERLEAVED_RGBA = 11;
inline constexpr int HEIF_CHANNEL_INTERLEAVED = 10;

// Opaque libheif objects (heif_context, heif_image_handle, heif_image).
struct LibheifContext;
struct LibheifHandle;
struct LibheifImage;

// libheif's `struct heif_error`, returned by value.
struct LibheifError {
  std::int32_t code = 0;  // 0: success
  std::int32_t subcode = 0;
  const char* message = nullptr;  // may be null; owned by libheif
};

// The loaded library and its functions, in lookup order.
struct HeifLibrary {
  void* so = nullptr;
  const char* (*get_version)() = nullptr;
  int (*have_decoder_for_format)(int format) = nullptr;
  LibheifContext* (*context_alloc)() = nullptr;
  void (*context_free)(LibheifContext*) = nullptr;
  LibheifError (*context_read_from_file)(LibheifContext*, const char* path, const void* options) = nullptr;
  LibheifError (*context_read_from_memory_without_copy)(LibheifContext*, const void* data, std::size_t size,
                                                        const void* options) = nullptr;
  LibheifError (*context_get_primary_image_handle)(LibheifContext*, LibheifHandle** out) = nullptr;
  int (*image_handle_get_width)(const LibheifHandle*) = nullptr;
  int (*image_handle_get_height)(const LibheifHandle*) = nullptr;
  int (*image_handle_has_alpha_channel)(const LibheifHandle*) = nullptr;
  void (*image_handle_release)(const LibheifHandle*) = nullptr;
  LibheifError (*decode_image)(const LibheifHandle*, LibheifImage** out, int colorspace, int chroma,
                               const void* options) = nullptr;
  int (*image_get_width)(const LibheifImage*, int channel) = nullptr;
  int (*image_get_height)(const LibheifImage*, int channel) = nullptr;
  const std::uint8_t* (*image_get_plane_readonly)(const LibheifImage*, int channel, int* stride) = nullptr;
  void (*image_release)(const LibheifImage*) = nullptr;
};

// Opens `soname` and looks the sixteen functions up in table order. Does not
// touch the process-wide slot; the name is a parameter so that tests can
// bind to a library that does not exist. On a missing function the library
// is closed again.
std::expected<HeifLibrary, std::string> load_heif_library(const char* soname);

// The process-wide binding to HEIF_LIBRARY_NAME: loads on the first call
// (thread-safe), later calls return the stored outcome. The pointer is
// valid until the process ends.
std::expected<const HeifLibrary*, std::string> heif_library();

// Nothing when libheif is loaded and can decode HEVC; otherwise the reason
// shown in the installation notice. The decoder check runs on every call.
std::optional<std::string> heif_unavailable_reason();

// Same check against a given binding (the seam the tests use).
std::optional<std::string> unavailable_reason(const std::expected<const HeifLibrary*, std::string>& library);

// Nothing for a success record, otherwise
// "{context}: {message} (libheif error {code}.{subcode})".
std::optional<std::string> heif_error_message(const LibheifError& error, std::string_view context);

}  // namespace brindle::heif
