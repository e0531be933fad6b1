#pragma once

#include <cstdint>

#include "convert/channel_planes.h"

// A program's conversion of one band of working pixels: reads the source,
// writes the first three bytes of each destination pixel. Returns 0, or
// status::conversion_refused when it cannot run (nothing converted).
using conversion_function = int (*)(std::uint8_t* source, std::uint8_t* destination,
                                    std::int64_t width, std::int64_t rows);

// One whole run of a converter: command line, input, header check, then the
// pixels from the input through the conversion to the planes (when planes
// names channel_plane_count of them; null for none) and the result, in
// bands of rows, in one pass. Returns the exit status.
int run_converter(int argc, const char* const* argv, const char* default_name,
                  conversion_function convert, const channel_plane* planes);
