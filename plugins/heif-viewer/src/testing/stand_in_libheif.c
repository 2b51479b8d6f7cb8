/* A stand-in "libheif.so.1" for the installation-notice tests, found by the
 * loader through LD_LIBRARY_PATH in a child process.
 *
 * Built twice: with STAND_IN_INCOMPLETE it lacks heif_image_handle_has_alpha_channel
 * and heif_image_get_width (an older, partial library); without it, it has
 * all sixteen functions but no HEVC decoder, and a version text that is not
 * valid UTF-8. No function does real work: the viewer must never get past
 * the availability check with it. */
#include <stddef.h>

#define EXPORT __attribute__((visibility("default")))

struct heif_error {
  int code;
  int subcode;
  const char* message;
};

static const struct heif_error UNSUPPORTED = {4, 0, "stand-in library"};

EXPORT const char* heif_get_version(void) { return "1.99.0-stand-in \xC3("; }
EXPORT int heif_have_decoder_for_format(int format) { return 0; }
EXPORT void* heif_context_alloc(void) { return NULL; }
EXPORT void heif_context_free(void* context) {}
EXPORT struct heif_error heif_context_read_from_file(void* context, const char* path, const void* options) {
  return UNSUPPORTED;
}
EXPORT struct heif_error heif_context_read_from_memory_without_copy(void* context, const void* data, size_t size,
                                                                    const void* options) {
  return UNSUPPORTED;
}
EXPORT struct heif_error heif_context_get_primary_image_handle(void* context, void** handle) { return UNSUPPORTED; }
EXPORT int heif_image_handle_get_width(const void* handle) { return 0; }
EXPORT int heif_image_handle_get_height(const void* handle) { return 0; }
#ifndef STAND_IN_INCOMPLETE
EXPORT int heif_image_handle_has_alpha_channel(const void* handle) { return 0; }
#endif
EXPORT void heif_image_handle_release(const void* handle) {}
EXPORT struct heif_error heif_decode_image(const void* handle, void** image, int colorspace, int chroma,
                                           const void* options) {
  return UNSUPPORTED;
}
#ifndef STAND_IN_INCOMPLETE
EXPORT int heif_image_get_width(const void* image, int channel) { return 0; }
#endif
EXPORT int heif_image_get_height(const void* image, int channel) { return 0; }
EXPORT const unsigned char* heif_image_get_plane_readonly(const void* image, int channel, int* stride) { return NULL; }
EXPORT void heif_image_release(const void* image) {}
