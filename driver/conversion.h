// What a program converts with: one band of pixels at a time, in the form
// the band's stored rows allow.
#pragma once

#include <cstdint>

// A program's conversion of one band of working pixels: reads the source,
// writes the first three bytes of each destination pixel. Returns 0, or
// status::conversion_refused when it cannot run (nothing converted).
using conversion_function = int (*)(std::uint8_t* source, std::uint8_t* destination,
                                    std::int64_t width, std::int64_t rows);

// The same conversion from rows stored 24 bits a pixel: row r starts at
// first_row + r * stride (negative for rows stored top first).
using stored_conversion = int (*)(const std::uint8_t* first_row, std::int64_t stride,
                                  std::uint8_t* destination, std::int64_t width, std::int64_t rows);

// A program's conversion in both forms; from_24_bit may be null, and 24-bit
// rows are then widened to working pixels first.
struct conversion {
  conversion_function working;
  stored_conversion from_24_bit;
};
