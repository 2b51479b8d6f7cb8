/* A scripted stand-in "libheif.so.1": a 4 × 2 RGB image whose every libheif
 * object is logged to standard output as it is obtained ("ctx+", "handle+",
 * "image+") and released ("ctx-", "handle-", "image-"), so a test can check
 * the release order on every path. The environment variable
 * HEIF_STAND_IN_FAULT picks one failure to act out (unset: none); only this
 * test library reads it. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

struct heif_error {
  int code;
  int subcode;
  const char* message;
};

static const struct heif_error OK = {0, 0, "Success"};
static int context_object, handle_object, image_object;
/* 4 × 2 RGB with four bytes of row padding. */
static const unsigned char PLANE[2 * 16] = {1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 99, 99, 99, 99,
                                            13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 99, 99, 99, 99};

static int fault(const char* name) {
  const char* f = getenv("HEIF_STAND_IN_FAULT");
  return f != NULL && strcmp(f, name) == 0;
}

static void note(const char* event) {
  fputs(event, stdout);
  fputc(' ', stdout);
}

EXPORT const char* heif_get_version(void) { return "0.0.0-scripted"; }
EXPORT int heif_have_decoder_for_format(int format) { return format == 1; }
EXPORT void* heif_context_alloc(void) {
  if (fault("alloc")) return NULL;
  note("ctx+");
  return &context_object;
}
EXPORT void heif_context_free(void* context) { note("ctx-"); }
EXPORT struct heif_error heif_context_read_from_file(void* context, const char* path, const void* options) {
  if (fault("read")) return (struct heif_error){2, 100, NULL};
  return OK;
}
EXPORT struct heif_error heif_context_read_from_memory_without_copy(void* context, const void* data, size_t size,
                                                                    const void* options) {
  return OK;
}
EXPORT struct heif_error heif_context_get_primary_image_handle(void* context, void** handle) {
  if (fault("primary_null")) {
    *handle = NULL;
    return OK;
  }
  note("handle+");
  *handle = &handle_object;
  /* libheif may hand out a handle and an error together; it must still be released. */
  if (fault("primary_error")) return (struct heif_error){7, 3, "\xFFno item"};
  return OK;
}
EXPORT int heif_image_handle_get_width(const void* handle) { return fault("empty") ? 0 : 4; }
EXPORT int heif_image_handle_get_height(const void* handle) { return 2; }
EXPORT int heif_image_handle_has_alpha_channel(const void* handle) { return 0; }
EXPORT void heif_image_handle_release(const void* handle) { note("handle-"); }
EXPORT struct heif_error heif_decode_image(const void* handle, void** image, int colorspace, int chroma,
                                           const void* options) {
  if (colorspace != 1 || chroma != 10) return (struct heif_error){5, 0, "unexpected colour request"};
  if (fault("null_image")) {
    *image = NULL;
    return OK;
  }
  note("image+");
  *image = &image_object;
  if (fault("decode_error")) return (struct heif_error){4, 100, "bad stream"};
  return OK;
}
EXPORT int heif_image_get_width(const void* image, int channel) {
  if (channel != 10) return -1;
  return fault("size_mismatch") ? 5 : fault("negative_size") ? -7 : 4;
}
EXPORT int heif_image_get_height(const void* image, int channel) { return channel == 10 ? 2 : -1; }
EXPORT const unsigned char* heif_image_get_plane_readonly(const void* image, int channel, int* stride) {
  *stride = fault("short_stride") ? 11 : 16;
  if (fault("no_plane") || channel != 10) return NULL;
  return PLANE;
}
EXPORT void heif_image_release(const void* image) { note("image-"); }
