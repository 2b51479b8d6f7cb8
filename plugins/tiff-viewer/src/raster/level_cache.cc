#include "raster/level_cache.h"

#include <algorithm>

#include "plugin_protocol/image_payload.h"

namespace brindle::tiff {

RgbaImage downsample_rgba(std::span<const std::uint8_t> pixels, std::uint32_t width, std::uint32_t height,
                          std::uint32_t ratio) {
  const std::uint64_t r = std::max<std::uint32_t>(ratio, 1);
  RgbaImage out;
  out.width = static_cast<std::uint32_t>(std::max<std::uint64_t>((width + r - 1) / r, 1));
  out.height = static_cast<std::uint32_t>(std::max<std::uint64_t>((height + r - 1) / r, 1));
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * 4);
  std::uint8_t* dst = out.pixels.data();
  for (std::uint64_t oy = 0; oy < out.height; ++oy) {
    const std::uint64_t y_end = std::min<std::uint64_t>((oy + 1) * r, height);
    for (std::uint64_t ox = 0; ox < out.width; ++ox, dst += 4) {
      const std::uint64_t x_end = std::min<std::uint64_t>((ox + 1) * r, width);
      float sa = 0, sr = 0, sg = 0, sb = 0;
      std::uint64_t m = 0;
      for (std::uint64_t y = oy * r; y < y_end; ++y) {
        const std::uint8_t* src = pixels.data() + (y * width + ox * r) * 4;
        for (std::uint64_t x = ox * r; x < x_end; ++x, src += 4) {
          const float a = src[3];
          sa += a;
          sr += src[0] * a;
          sg += src[1] * a;
          sb += src[2] * a;
          ++m;
        }
      }
      if (sa <= 0) {
        dst[0] = dst[1] = dst[2] = dst[3] = 0;
        continue;
      }
      dst[0] = to_byte(sr / sa);
      dst[1] = to_byte(sg / sa);
      dst[2] = to_byte(sb / sa);
      dst[3] = to_byte(sa / static_cast<float>(std::max<std::uint64_t>(m, 1)));
    }
  }
  return out;
}

std::expected<LevelRaster, std::string> produce_level(const TiffLevel& level, LevelState& state,
                                                      const FreshRender& fresh) {
  if (const auto& c = state.cache;
      c && c->sidecar == level.sidecar && c->ifd == level.ifd && level.factor >= c->factor &&
      level.factor % c->factor == 0) {
    const std::uint32_t ratio = level.factor / c->factor;
    LevelRaster hit = c->raster;
    if (ratio != 1) {
      RgbaImage small = downsample_rgba(c->raster.pixels(), c->raster.width, c->raster.height, ratio);
      hit.image = std::make_shared<Payload>(
          encode_single_frame(hit.channels, hit.bit_depth, small.width, small.height, small.pixels));
      hit.width = small.width;
      hit.height = small.height;
    }
    if (hit.width == level.width && hit.height == level.height) return hit;
  }

  auto rendered = fresh();
  if (!rendered) return std::unexpected(rendered.error());
  LevelRaster result{std::make_shared<Payload>(std::move(rendered->image)),
                     rendered->width, rendered->height, rendered->channels, rendered->bit_depth};
  state.kept_ranges = std::move(rendered->band_ranges);
  const bool keep_finer = state.cache && state.cache->sidecar == level.sidecar && state.cache->ifd == level.ifd &&
                          state.cache->factor <= level.factor;
  if (!keep_finer) state.cache = LevelCache{result, level.sidecar, level.ifd, level.factor};
  return result;
}

}  // namespace brindle::tiff
