#pragma once

#include <cstdint>

// Converts every pixel of the source working image (blue, green, red,
// fourth byte) into the destination's first three bytes: U (Cb + 128) in
// byte 0, Y in byte 1, V (Cr + 128) in byte 2. The fourth byte is left as
// it was. Returns 0, or status::conversion_refused when it cannot run
// (destination untouched).
int convert_to_yuv(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                   std::int64_t rows);

// The same from rows stored 24 bits a pixel (blue, green, red): row r
// starts at first_row + r * stride, a negative stride for rows stored top
// first. The fourth byte of each destination pixel is left as it was.
int convert_stored_to_yuv(const std::uint8_t* first_row, std::int64_t stride,
                          std::uint8_t* destination, std::int64_t width, std::int64_t rows);
