// Box averaging of one decoded chunk: every accepted sample is added to the
// band sums of the output pixel it falls in. Common kinds (whole-byte and
// packed unsigned integers, grey floats) are read where the decoder left
// them; the rest are converted to floats first (sample_convert.h).
//
// These are the per-sample loops of a render; they hold no state of their
// own and write only into the accumulator they are given.
#pragma once

#include <cstdint>

#include "raster/accumulator.h"
#include "raster/raster_layout.h"
#include "raster/sample_convert.h"

namespace brindle::tiff {

// How the samples of a chunk pixel reach the picture.
struct PixelRules {
  const RasterLayout* layout = nullptr;
  // Samples of a chunk pixel that can reach the picture (colour bands, CMYK
  // black, palette index, alpha); at most the chunk's samples per pixel.
  std::uint64_t used = 1;
  std::uint64_t palette_stride = 1;
  // A pixel whose first sample equals the no-data value (compared as 32-bit
  // floats, so NaN never matches) is left out.
  bool has_nodata = false;
  float nodata = 0;
};

// The part of one chunk that lands in the output.
struct ChunkSpan {
  std::uint64_t r_begin = 0, r_end = 0;  // chunk rows used
  std::uint64_t c_begin = 0, c_end = 0;  // chunk columns used
  std::uint64_t cy = 0;                  // image row of chunk row 0
  std::uint64_t y0 = 0;                  // level row of output row 0
  std::uint64_t t = 1;                   // decimation factor
  std::uint64_t w = 0;                   // output width
  std::uint64_t ox_begin = 0;            // output column of c_begin
  std::uint64_t phase_begin = 0;         // c_begin's place among that column's t samples
  std::uint64_t plane = 0;               // for planar images
  bool first_plane = true;
};

// Adds the span's samples straight from the decoded chunk, whose size the
// caller has checked (check_chunk_size). False, with nothing added, when the
// chunk's kind or layout needs its samples converted to floats first.
bool add_in_place(SampleAccumulator& acc, const ChunkSpan& span, const ChunkData& chunk, const PixelRules& rules);

// Adds chunk rows [a, b) of the span from `samples`: those rows converted by
// convert_chunk, `rules.used` floats per pixel, `width` pixels per row.
void add_converted(SampleAccumulator& acc, const ChunkSpan& span, std::uint64_t width, const PixelRules& rules,
                   const float* samples, std::uint64_t a, std::uint64_t b);

}  // namespace brindle::tiff
