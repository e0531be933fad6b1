#pragma once

#include <cstdint>

// A program's conversion: reads the source working image, writes the first
// three bytes of each destination pixel, and may write plane files of its
// own. Returns 0 on success, 1 when it cannot run (nothing converted), or
// 9 or 10 when it converted every pixel but some plane file was not
// written; the run then still writes its result.
using conversion_function = int (*)(std::uint8_t* source, std::uint8_t* destination,
                                    std::int64_t width, std::int64_t rows);

// One whole run of a converter: command line, load, header check, working
// images, unpack, convert, write. Returns the exit status.
int run_converter(int argc, const char* const* argv, const char* default_name,
                  conversion_function convert);
