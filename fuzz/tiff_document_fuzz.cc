// A TIFF document opened from memory as the plug-in would open it: render
// (the level table), every level under the render cap, and one region.
// Levels come coarsest first (a fresh render at the largest factor), then
// from the finest under the cap down, so that the coarser ones are derived
// from the kept raster as a host zooming out would have them; rendering
// each afresh would decode a tall image once per level.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "doc/level_table.h"
#include "main/tiff_viewer.h"

namespace {

std::uint32_t u32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brindle::tiff::TiffViewer viewer;
  auto table = viewer.render(brindle::RenderSource::from_bytes(std::vector<std::uint8_t>(data, data + size)));
  if (!table) return 0;
  const std::uint32_t levels = u32(table->data() + 15);
  if (table->size() != 19 + 12ull * levels) __builtin_trap();
  std::vector<std::uint32_t> order;
  if (levels > 0) order.push_back(0);
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
