// Pixels as 24-bit rows store them: blue, green and red, 3 bytes each, no
// fourth byte. Every kernel has a form that reads them straight from the
// stored rows, so that a 24-bit picture is converted without a pass that
// first widens it to 4-byte pixels.
#pragma once

#include <cstdint>

#include "convert/pixel_kernels.h"

// Stored pixels per pass of run_on_packed_pixels: their 4-byte form stays in
// the processor's first cache.
constexpr std::int64_t packed_pixels_per_pass = 256;

// Runs kernel (of 4-byte pixels) over count 3-byte pixels from in, a pass
// of packed_pixels_per_pass at a time through a small buffer of their
// 4-byte form: the 3-byte form of a kernel without its own.
void run_on_packed_pixels(pixel_run kernel, const std::uint8_t* in, std::uint8_t* out,
                          std::int64_t count);
