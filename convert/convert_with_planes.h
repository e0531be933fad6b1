// The conversions of the programs that also show each component on its
// own: convert every pixel, then write the three channel planes of the
// result into the current directory.
#pragma once

#include <cstdint>

// convert_to_yuv, then the V, U and Y planes. Returns 0, 1 when the
// conversion cannot run (no plane written), or the planes' 9 or 10.
int convert_to_yuv_with_planes(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                               std::int64_t rows);

// convert_to_hsv, then the H, S and V planes; statuses as above.
int convert_to_hsv_with_planes(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                               std::int64_t rows);
