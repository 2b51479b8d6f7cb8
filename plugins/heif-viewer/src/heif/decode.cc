#include "heif/decode.h"

#include <cstring>

#include "heif/box_resample.h"
#include "heif/level_plan.h"

namespace brindle::heif {
namespace {

// U+00D7 MULTIPLICATION SIGN between the sides.
std::string size_text(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + "\u00D7" + std::to_string(height);
}

// The level's size, checked against the base it is averaged from.
std::expected<LevelSize, std::string> level_within_base(const BaseImage& base, ImageSize probed,
                                                        std::uint32_t long_side) {
  const LevelSize level = level_size(probed.width, probed.height, long_side);
  if (level.width > base.width || level.height > base.height) {
    return std::unexpected("level " + size_text(level.width, level.height) + " is finer than the decoded " +
                           size_text(base.width, base.height));
  }
  return level;
}

PixelSource base_pixels(const BaseImage& base) {
  return PixelSource{base.rgba, static_cast<std::size_t>(base.width) * 4, 4, base.width, base.height};
}

}  // namespace

std::expected<BaseImage, std::string> decode_base(const HeifSource& source, ImageSize probed) {
  // Declared in this order so that every exit releases image, then handle,
  // then context.
  auto context = open_context(source);
  if (!context) return std::unexpected(std::move(context.error()));
  auto handle = primary_image_handle(*context);
  if (!handle) return std::unexpected(std::move(handle.error()));
  const HeifLibrary& lib = context->lib();

  // Checked on what libheif is about to decode: a file replaced since the
  // probe must not slip past the limit.
  const std::int64_t claimed_w = lib.image_handle_get_width(handle->get());
  const std::int64_t claimed_h = lib.image_handle_get_height(handle->get());
  if (claimed_w > 0 && claimed_h > 0 && static_cast<std::uint64_t>(claimed_w * claimed_h) > MAX_DECODE_PIXELS) {
    return std::unexpected("image " + size_text(claimed_w, claimed_h) + " exceeds the decode limit of " +
                           std::to_string(MAX_DECODE_PIXELS) + " pixels");
  }
  const bool alpha = lib.image_handle_has_alpha_channel(handle->get()) != 0;
  LibheifImage* raw = nullptr;
  const LibheifError error = lib.decode_image(handle->get(), &raw, HEIF_COLORSPACE_RGB,
                                              alpha ? HEIF_CHROMA_INTERLEAVED_RGBA : HEIF_CHROMA_INTERLEAVED_RGB,
                                              nullptr);
  HeifImage image(&lib, raw);
  if (auto message = heif_error_message(error, "libheif could not decode the image")) {
    return std::unexpected(std::move(*message));
  }
  if (image.get() == nullptr) return std::unexpected(std::string("libheif returned no image"));

  const int w = lib.image_get_width(image.get(), HEIF_CHANNEL_INTERLEAVED);
  const int h = lib.image_get_height(image.get(), HEIF_CHANNEL_INTERLEAVED);
  const ImageSize decoded{static_cast<std::uint32_t>(w < 0 ? 0 : w), static_cast<std::uint32_t>(h < 0 ? 0 : h)};
  if (decoded != probed) {
    return std::unexpected("decoded " + size_text(decoded.width, decoded.height) + " but the container reported " +
                           size_text(probed.width, probed.height));
  }

  int stride = 0;
  const std::uint8_t* plane = lib.image_get_plane_readonly(image.get(), HEIF_CHANNEL_INTERLEAVED, &stride);
  const unsigned channels = alpha ? 4 : 3;
  const std::uint64_t row_bytes = static_cast<std::uint64_t>(decoded.width) * channels;
  if (plane == nullptr || stride <= 0 || row_bytes == 0 || decoded.height == 0 ||
      row_bytes > static_cast<std::uint64_t>(stride)) {
    return std::unexpected(std::string("decoder returned no interleaved RGB plane"));
  }
  const std::size_t plane_bytes = static_cast<std::size_t>(decoded.height - 1) * static_cast<std::size_t>(stride) +
                                  static_cast<std::size_t>(row_bytes);
  const PixelSource full{{plane, plane_bytes}, static_cast<std::size_t>(stride), channels, decoded.width,
                         decoded.height};

  // The decoded size equals the probed one (checked above), so this is the
  // document's own plan.
  const LevelSize size = level_size(decoded.width, decoded.height, plan_levels(decoded.width, decoded.height).back());
  auto rgba = box_resample(full, size.width, size.height);
  if (!rgba) return std::unexpected(std::move(rgba.error()));
  return BaseImage{std::move(*rgba), size.width, size.height};
}

std::expected<std::vector<std::uint8_t>, std::string> level_pixels(const BaseImage& base, ImageSize probed,
                                                                   std::uint32_t long_side) {
  auto level = level_within_base(base, probed, long_side);
  if (!level) return std::unexpected(std::move(level.error()));
  if (level->width == base.width && level->height == base.height) return base.rgba;
  return box_resample(base_pixels(base), level->width, level->height);
}

std::expected<Payload, std::string> level_payload(const BaseImage& base, ImageSize probed, std::uint32_t long_side) {
  auto level = level_within_base(base, probed, long_side);
  if (!level) return std::unexpected(std::move(level.error()));
  const bool is_base = level->width == base.width && level->height == base.height;
  // Encoding with no pixels leaves a zeroed pixel area to fill in place.
  Payload payload = encode_single_frame(3, 8, level->width, level->height,
                                        is_base ? std::span<const std::uint8_t>(base.rgba)
                                                : std::span<const std::uint8_t>());
  if (!is_base) {
    std::span<std::uint8_t> pixels(payload.data() + IMAGE_HEADER_SIZE + IMAGE_FRAME_HEADER_SIZE,
                                   payload.size() - IMAGE_HEADER_SIZE - IMAGE_FRAME_HEADER_SIZE);
    auto done = box_resample_into(base_pixels(base), level->width, level->height, pixels);
    if (!done) return std::unexpected(std::move(done.error()));
  }
  return payload;
}

}  // namespace brindle::heif
