#include "heif/heif_context.h"

#include <sys/stat.h>

namespace brindle::heif {
namespace {

std::string printable_path(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\0') {
      out += "\\0";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::expected<HeifContext, std::string> open_context(const HeifSource& source) {
  auto library = heif_library();
  if (!library) return std::unexpected(std::move(library.error()));
  const HeifLibrary* lib = *library;

  HeifContext context(lib, lib->context_alloc());
  if (context.get() == nullptr) return std::unexpected(std::string("heif_context_alloc failed"));

  LibheifError error;
  if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&source)) {
    error = lib->context_read_from_memory_without_copy(context.get(), bytes->data(), bytes->size(), nullptr);
  } else {
    const std::string& path = std::get<std::string>(source);
    // An interior zero would silently shorten the path libheif sees. The
    // path is echoed with the zero spelled out, so the reply text itself
    // stays free of NUL bytes.
    if (path.find('\0') != std::string::npos) return std::unexpected(printable_path(path) + ": path contains NUL");
    // libheif opens the path itself and blocks on a FIFO without a writer;
    // only regular files are handed over. A path that cannot be examined
    // is left to libheif, which reports it in its own words.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      return std::unexpected(path + ": not a regular file");
    }
    error = lib->context_read_from_file(context.get(), path.c_str(), nullptr);
  }
  if (auto message = heif_error_message(error, "libheif could not open the file")) {
    return std::unexpected(std::move(*message));
  }
  return context;
}

std::expected<HeifImageHandle, std::string> primary_image_handle(const HeifContext& context) {
  const HeifLibrary& lib = context.lib();
  LibheifHandle* raw = nullptr;
  const LibheifError error = lib.context_get_primary_image_handle(context.get(), &raw);
  HeifImageHandle handle(&lib, raw);  // owned even when libheif also reported an error
  if (auto message = heif_error_message(error, "no primary image")) return std::unexpected(std::move(*message));
  if (handle.get() == nullptr) return std::unexpected(std::string("no primary image"));
  return handle;
}

}  // namespace brindle::heif
