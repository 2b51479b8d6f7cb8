// A TIFF document opened from memory as the plug-in would open it: render
// (the level table), every level under the render cap, and one region.
// Levels come coarsest first (a fresh render at the largest factor), then
// from the finest under the cap down, so that the coarser ones are derived
// from the kept raster as a host zooming out would have them; rendering
// each afresh would decode a tall image once per level.
//
// A render reads every sample of the image behind its level, whatever the
// factor, so its cost follows the size the file declares, not the file's
// own: a few hundred bytes of fax or Zstandard data can declare a
// 100-megapixel page, which renders in about a second in a release build,
// several under the sanitizers, and exercises nothing a small page does not.
// While fuzzing, documents whose largest image exceeds the budget below get
// their level table checked but are not rendered; replayed inputs are
// rendered whatever their size.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "doc/level_table.h"
#include "doc/tiff_doc.h"
#include "main/tiff_viewer.h"

namespace {

std::uint32_t u32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

#if defined(BRINDLE_FUZZING)
constexpr std::uint64_t MAX_RENDERED_PIXELS = 2'000'000;
constexpr std::uint64_t MAX_DECODED_BYTES = 32ull << 20;

// Whether the largest image (behind the last level, which has the most
// pixels) is within the budget; one the decoder cannot reach fails at once.
bool within_budget(const std::uint8_t* data, std::size_t size, std::uint64_t largest_pixels) {
  if (largest_pixels > MAX_RENDERED_PIXELS) return false;
  auto doc = brindle::tiff::open_doc(brindle::tiff::DocSource::memory(std::vector<std::uint8_t>(data, data + size)),
                                     std::nullopt);
  if (!doc) return true;
  const auto& level = doc->levels.back();
  auto decoder = brindle::tiff::open_decoder(*doc, level.sidecar);
  if (!decoder || !decoder->go_to_ifd(level.ifd)) return true;
  TIFF* tif = decoder->handle();
  std::uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  const std::uint64_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
  return static_cast<std::uint64_t>(TIFFScanlineSize64(tif)) * decoder->height() * planes <= MAX_DECODED_BYTES;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brindle::tiff::TiffViewer viewer;
  auto table = viewer.render(brindle::RenderSource::from_bytes(std::vector<std::uint8_t>(data, data + size)));
  if (!table) return 0;
  const std::uint32_t levels = u32(table->data() + 15);
  if (table->size() != 19 + 12ull * levels) __builtin_trap();
  if (levels == 0) return 0;
#if defined(BRINDLE_FUZZING)
  const std::uint8_t* last = table->data() + 19 + 12 * (levels - 1);
  if (!within_budget(data, size, std::uint64_t{u32(last + 4)} * u32(last + 8))) return 0;
#endif
  std::vector<std::uint32_t> order = {0};
  for (std::uint32_t i = levels; i-- > 1;) order.push_back(i);
  for (std::uint32_t i : order) {
    const std::uint8_t* frame = table->data() + 19 + 12 * i;
    const std::uint64_t pixels = std::uint64_t{u32(frame + 4)} * u32(frame + 8);
    if (pixels > brindle::tiff::RENDER_CAP_PIXELS) continue;
    auto level = viewer.render_level(i);
    if (level && level->size() != 31 + pixels * 4) __builtin_trap();
  }
  (void)viewer.render_region(levels - 1, 0, 0, 64, 64);
  return 0;
}
