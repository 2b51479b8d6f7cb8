#include "heif/heif_library.h"

#include <dlfcn.h>

#include "heif/utf8_text.h"

namespace brindle::heif {
namespace {

// The loader's report names file paths, which need not be UTF-8; the
// reason ends up in a UTF-8 text payload.
std::string loader_error(const char* fallback) {
  const char* text = dlerror();
  return text ? utf8_lossy(text) : std::string(fallback);
}

// Looks `name` up into `slot`; on failure leaves the message in `error`.
template <class Fn>
bool look_up(void* so, const char* soname, const char* name, Fn& slot, std::string& error) {
  dlerror();  // clear any stale report so the one read below is ours
  void* address = dlsym(so, name);
  if (address == nullptr) {
    error = std::string(soname) + " lacks " + name + ": " +
            loader_error("dlsym failed, but system did not report the error");
    return false;
  }
  slot = reinterpret_cast<Fn>(address);
  return true;
}

}  // namespace

std::expected<HeifLibrary, std::string> load_heif_library(const char* soname) {
  dlerror();
  void* so = dlopen(soname, RTLD_LAZY);
  if (so == nullptr) {
    return std::unexpected(std::string(soname) + " not found (" +
                           loader_error("dlopen failed, but system did not report the error") + ")");
  }
  HeifLibrary lib;
  lib.so = so;
  std::string error;
  // && stops at the first missing function, which is the one reported.
  const bool complete =
      look_up(so, soname, "heif_get_version", lib.get_version, error) &&
      look_up(so, soname, "heif_have_decoder_for_format", lib.have_decoder_for_format, error) &&
      look_up(so, soname, "heif_context_alloc", lib.context_alloc, error) &&
      look_up(so, soname, "heif_context_free", lib.context_free, error) &&
      look_up(so, soname, "heif_context_read_from_file", lib.context_read_from_file, error) &&
      look_up(so, soname, "heif_context_read_from_memory_without_copy", lib.context_read_from_memory_without_copy,
              error) &&
      look_up(so, soname, "heif_context_get_primary_image_handle", lib.context_get_primary_image_handle, error) &&
      look_up(so, soname, "heif_image_handle_get_width", lib.image_handle_get_width, error) &&
      look_up(so, soname, "heif_image_handle_get_height", lib.image_handle_get_height, error) &&
      look_up(so, soname, "heif_image_handle_has_alpha_channel", lib.image_handle_has_alpha_channel, error) &&
      look_up(so, soname, "heif_image_handle_release", lib.image_handle_release, error) &&
      look_up(so, soname, "heif_decode_image", lib.decode_image, error) &&
      look_up(so, soname, "heif_image_get_width", lib.image_get_width, error) &&
      look_up(so, soname, "heif_image_get_height", lib.image_get_height, error) &&
      look_up(so, soname, "heif_image_get_plane_readonly", lib.image_get_plane_readonly, error) &&
      look_up(so, soname, "heif_image_release", lib.image_release, error);
  if (!complete) {
    dlclose(so);
    return std::unexpected(std::move(error));
  }
  return lib;
}

std::expected<const HeifLibrary*, std::string> heif_library() {
  // The one piece of process-wide state: a function-local static is
  // initialised exactly once even under concurrent first calls.
  static const std::expected<HeifLibrary, std::string> slot = load_heif_library(HEIF_LIBRARY_NAME);
  if (!slot) return std::unexpected(slot.error());
  return &*slot;
}

std::optional<std::string> unavailable_reason(const std::expected<const HeifLibrary*, std::string>& library) {
  if (!library) return library.error();
  const HeifLibrary& lib = **library;
  if (lib.have_decoder_for_format(HEIF_COMPRESSION_HEVC) != 0) return std::nullopt;
  return "libheif " + utf8_lossy(lib.get_version()) +
         " is installed but has no HEVC decoder (the libde265 codec plugin)";
}

std::optional<std::string> heif_unavailable_reason() { return unavailable_reason(heif_library()); }

std::optional<std::string> heif_error_message(const LibheifError& error, std::string_view context) {
  if (error.code == 0) return std::nullopt;
  std::string text(context);
  text += ": ";
  text += utf8_lossy(error.message);
  text += " (libheif error " + std::to_string(error.code) + "." + std::to_string(error.subcode) + ")";
  return text;
}

}  // namespace brindle::heif
