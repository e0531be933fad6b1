#pragma once

#include <cstdint>
#include <cstdlib>

#include "core/row_tables.h"
#include "core/status.h"

// Runs pixel_fn(source pixel, destination pixel) over every pixel of two
// working images of width x rows, row by row through row tables. Returns 1
// without touching the destination when an image is missing, a count is
// 0 or less, or a row table cannot be allocated.
template <typename PixelFn>
int convert_each_pixel(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                       std::int64_t rows, PixelFn pixel_fn) {
  if (source == nullptr || destination == nullptr || width <= 0 || rows <= 0) {
    return status::conversion_refused;
  }
  std::uint8_t** source_rows = make_row_table(source, width, 4, rows);
  std::uint8_t** destination_rows = make_row_table(destination, width, 4, rows);
  if (source_rows == nullptr || destination_rows == nullptr) {
    std::free(source_rows);
    std::free(destination_rows);
    return status::conversion_refused;
  }
  for (std::int64_t r = 0; r < rows; ++r) {
    const std::uint8_t* in = source_rows[r];
    std::uint8_t* out = destination_rows[r];
    for (std::int64_t x = 0; x < width; ++x, in += 4, out += 4) {
      pixel_fn(in, out);
    }
  }
  std::free(source_rows);
  std::free(destination_rows);
  return status::ok;
}
