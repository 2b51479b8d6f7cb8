#include "doc/tiff_doc.h"

namespace brindle::tiff {
namespace {

std::vector<BytePatch> scan_or_empty(std::expected<std::unique_ptr<ByteStream>, std::string> stream) {
  if (!stream) return {};
  auto patches = scan_palette_patches(**stream);
  return patches ? std::move(*patches) : std::vector<BytePatch>{};
}

bool reduced_resolution(TIFF* tif) {
  // Only the flag as stored counts; libtiff reports the tag as an unsigned
  // 32-bit value or not at all.
  std::uint32_t subfile = 0;
  if (TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile) != 1) return false;
  return (subfile & 1) != 0;
}

}  // namespace

std::expected<std::unique_ptr<ByteStream>, std::string> open_stream(const TiffDoc& doc, bool sidecar) {
  if (sidecar) {
    if (!doc.sidecar) return std::unexpected(std::string("no overview sidecar"));
    auto file = FileStream::open(*doc.sidecar);
    if (!file) return std::unexpected(file.error());
    return std::unique_ptr<ByteStream>(std::move(*file));
  }
  if (const auto* memory = std::get_if<DocSource::Memory>(&doc.source.value)) {
    return std::unique_ptr<ByteStream>(std::make_unique<MemoryStream>(memory->bytes));
  }
  auto file = FileStream::open(std::get<DocSource::File>(doc.source.value).path);
  if (!file) return std::unexpected(file.error());
  return std::unique_ptr<ByteStream>(std::move(*file));
}

std::expected<TiffDecoder, std::string> open_decoder(const TiffDoc& doc, bool sidecar) {
  auto stream = open_stream(doc, sidecar);
  if (!stream) return std::unexpected(stream.error());
  auto reader = std::make_unique<PatchedReader>(std::move(*stream), sidecar ? doc.sidecar_patches : doc.main_patches);
  auto decoder = TiffDecoder::open(std::move(reader));
  if (!decoder) return std::unexpected("tiff: " + decoder.error());
  return decoder;
}

std::vector<IfdImage> collect_ifd_images(TiffDecoder& decoder, bool sidecar, bool all_ifds) {
  std::vector<IfdImage> images;
  for (std::uint64_t i = 0;; ++i) {
    const std::uint32_t w = decoder.width();
    const std::uint32_t h = decoder.height();
    if (w != 0 && h != 0 && (all_ifds || i == 0 || reduced_resolution(decoder.handle()))) {
      images.push_back({i, w, h, sidecar});
    }
    if (!decoder.has_next_ifd()) break;
    // libtiff loads an IFD of width or height 0 but reports it as unreadable;
    // such an IFD is skipped while it still counts in the chain.
    const toff_t before = TIFFCurrentDirOffset(decoder.handle());
    if (!decoder.next_ifd()) {
      const bool zero_sized_loaded = TIFFCurrentDirOffset(decoder.handle()) != before &&
                                     (decoder.width() == 0 || decoder.height() == 0);
      if (!zero_sized_loaded) break;
    }
  }
  return images;
}

std::expected<TiffDoc, std::string> open_doc(DocSource source, std::optional<std::string> sidecar) {
  TiffDoc doc{std::move(source), {}, {}, {}, {}, std::move(sidecar)};
  {
    auto main = open_stream(doc, false);
    if (!main) return std::unexpected(main.error());
    doc.main_patches = scan_or_empty(std::move(main));
  }
  if (doc.sidecar) doc.sidecar_patches = scan_or_empty(open_stream(doc, true));

  std::vector<IfdImage> images;
  {
    auto decoder = open_decoder(doc, false);
    if (!decoder) return std::unexpected(decoder.error());
    doc.meta = read_raster_meta(*decoder);
    images = collect_ifd_images(*decoder, false, false);
  }
  if (doc.sidecar) {
    if (auto decoder = open_decoder(doc, true)) {
      auto more = collect_ifd_images(*decoder, true, true);
      images.insert(images.end(), more.begin(), more.end());
    }
  }
  doc.levels = build_level_table(images);
  if (doc.levels.empty()) return std::unexpected(std::string("no image levels"));
  return doc;
}

}  // namespace brindle::tiff
