#pragma once

#include <cstdint>

#include "bitmap/pixel_rows.h"
#include "bitmap/unpack_rows.h"

// The whole-image form, which the tests, the fuzzers and the benchmarks use;
// the programs stream bands and never call it.
// Fills the working image (width x rows pixels of blue, green, red and a
// fourth byte, bottom row first, rows of exactly width * 4 bytes) from the
// pixel rows of a loaded bitmap that passed check_bitmap_header. Returns 0
// for the depths of the depth table (nothing to do when width <= 0 or
// rows == 0), status::unsupported_depth for any other, and
// header_sizes_inconsistent if the rows do not lie inside the block; on a
// refusal the image is untouched.
int unpack_bitmap_pixels(const std::uint8_t* block, std::int64_t size, std::uint8_t* image);

// Unpacks count working rows into band (rows of width * 4 bytes, the lowest
// first) from stored, the bytes locate_band gives for them. The layout's
// depth is supported and width > 0.
void unpack_band(const bitmap_layout& layout, const palette_view& palette,
                 const std::uint8_t* stored, std::uint64_t count, std::uint8_t* band);
