#pragma once

#include <cstdint>
#include <cstdlib>

#include "bitmap/row_tables.h"
#include "convert/pixel_kernels.h"
#include "system/status.h"

// Runs a kernel's run over every row of two working images of width x rows,
// row by row through row tables. Returns 1 without touching the
// destination when an image is missing, a count is 0 or less, or a row
// table cannot be allocated.
inline int convert_each_pixel(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                              std::int64_t rows, pixel_run run) {
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
    run(source_rows[r], destination_rows[r], width);
  }
  std::free(source_rows);
  std::free(destination_rows);
  return status::ok;
}

// Runs a kernel of 3-byte pixels (pixel_kernel::packed) over rows stored
// 24 bits a pixel: row r starts at first_row + r * stride (stride negative
// for rows stored top first) and goes to row r of the destination, a
// working image of width x rows. Returns 1 without touching the destination
// when a count is 0 or less.
inline int convert_each_stored_pixel(const std::uint8_t* first_row, std::int64_t stride,
                                     std::uint8_t* destination, std::int64_t width,
                                     std::int64_t rows, pixel_run run) {
  if (first_row == nullptr || destination == nullptr || width <= 0 || rows <= 0) {
    return status::conversion_refused;
  }
  for (std::int64_t r = 0; r < rows; ++r) {
    run(first_row + r * stride, destination + r * width * 4, width);
  }
  return status::ok;
}
