// A TIFF document: where its bytes come from, the palette patches to apply
// while reading them, its GDAL metadata and its level table.
//
// A TiffDoc holds no open file and no decoder: every request that needs
// pixels opens a fresh stream and decoder from it and drops them when done.
// It is read-only once open_doc returns; a Memory source shares its bytes
// with the streams opened over it.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "doc/byte_stream.h"
#include "doc/level_table.h"
#include "doc/patched_reader.h"
#include "doc/raster_meta.h"
#include "doc/tiff_decoder.h"

namespace brindle::tiff {

struct DocSource {
  struct File {
    std::string path;
  };
  struct Memory {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  };
  std::variant<File, Memory> value;

  static DocSource file(std::string path) { return {File{std::move(path)}}; }
  static DocSource memory(std::vector<std::uint8_t> bytes) {
    return {Memory{std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))}};
  }
};

struct TiffDoc {
  DocSource source;
  RasterMeta meta;
  std::vector<BytePatch> main_patches;
  std::vector<BytePatch> sidecar_patches;
  std::vector<TiffLevel> levels;  // never empty once opened
  std::optional<std::string> sidecar;
};

// Scans patches, reads the metadata and builds the level table. Errors:
// "open {path}: {reason}", "tiff: {decoder error}", "no image levels".
std::expected<TiffDoc, std::string> open_doc(DocSource source, std::optional<std::string> sidecar);

// A fresh unpatched stream over the main file or the sidecar, at offset 0.
std::expected<std::unique_ptr<ByteStream>, std::string> open_stream(const TiffDoc& doc, bool sidecar);

// A fresh decoder over the patched stream, on IFD 0. Errors: those of
// open_stream, or "tiff: {decoder error}".
std::expected<TiffDecoder, std::string> open_decoder(const TiffDoc& doc, bool sidecar);

// Native images from the decoder's current IFD on: the first IFD always,
// later ones when `all_ifds` or when NewSubfileType marks them reduced.
std::vector<IfdImage> collect_ifd_images(TiffDecoder& decoder, bool sidecar, bool all_ifds);

}  // namespace brindle::tiff
