#include "doc/tiff_doc.h"

#include "doc/ifd_walk.h"

namespace brindle::tiff {
namespace {

std::vector<BytePatch> scan_or_empty(std::expected<std::unique_ptr<ByteStream>, std::string> stream) {
  if (!stream) return {};
  auto patches = scan_palette_patches(**stream);
  return patches ? std::move(*patches) : std::vector<BytePatch>{};
}

bool zero_sized_first_ifd(const TiffDoc& doc);

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
  // IFD 0 as the decoder read it; the rest of the chain from the raw
  // entries, which spares a full directory read per page of a long
  // multi-page file. The decoder stays on its IFD.
  std::vector<IfdImage> images;
  const std::uint32_t w0 = decoder.width();
  const std::uint32_t h0 = decoder.height();
  if (w0 != 0 && h0 != 0) images.push_back({0, w0, h0, sidecar});
  if (!decoder.has_next_ifd()) return images;
  const std::uint64_t position = decoder.stream().position();
  const auto chain = walk_ifds(decoder.stream(), TIFFCurrentDirOffset(decoder.handle()));
  (void)decoder.stream().seek(static_cast<std::int64_t>(position), SeekFrom::start);
  for (std::uint64_t i = 1; i < chain.size(); ++i) {
    const RawIfd& ifd = chain[i];
    // Sizes beyond 32 bits are not images the decoder can open.
    if (ifd.width == 0 || ifd.height == 0 || ifd.width > UINT32_MAX || ifd.height > UINT32_MAX) continue;
    const bool reduced = ifd.subfile_type && *ifd.subfile_type <= UINT32_MAX && (*ifd.subfile_type & 1) != 0;
    if (all_ifds || reduced) {
      images.push_back({i, static_cast<std::uint32_t>(ifd.width), static_cast<std::uint32_t>(ifd.height), sidecar});
    }
  }
  return images;
}

namespace {

bool zero_sized_first_ifd(const TiffDoc& doc) {
  auto stream = open_stream(doc, false);
  if (!stream) return false;
  const auto first = first_ifd_offset(**stream);
  if (!first) return false;
  const auto chain = walk_ifds(**stream, *first);
  return !chain.empty() && (chain[0].width == 0 || chain[0].height == 0);
}

}  // namespace

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
    if (!decoder) {
      // libtiff refuses an IFD 0 of width or height 0 outright; such a
      // file has no image this viewer could show.
      if (zero_sized_first_ifd(doc)) return std::unexpected(std::string("no image levels"));
      return std::unexpected(decoder.error());
    }
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
