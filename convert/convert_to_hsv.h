#pragma once

#include <cstdint>

// Converts every pixel of the source working image into hue, saturation
// and value derived from its luma and colour differences: S in byte 0, V
// (the luma) in byte 1, H in byte 2 of the destination. The fourth byte is
// left as it was. Returns 0, or status::conversion_refused when it cannot
// run (destination untouched).
int convert_to_hsv(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                   std::int64_t rows);

// The same from rows stored 24 bits a pixel (blue, green, red): row r
// starts at first_row + r * stride, a negative stride for rows stored top
// first. The fourth byte of each destination pixel is left as it was.
int convert_stored_to_hsv(const std::uint8_t* first_row, std::int64_t stride,
                          std::uint8_t* destination, std::int64_t width, std::int64_t rows);
