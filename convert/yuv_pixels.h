// Luma and colour-difference kernels (see pixel_kernels.h for the
// contract). The exact single-precision values of Y, Cb and Cr turn into
// the same bytes as whole-number arithmetic on thousandths:
//   Y byte = (299 R + 587 G + 114 B + 500) / 1000
//   U      = min(255, (-169 R - 331 G + 500 B + 128500) / 1000)
//   V      = min(255, ( 500 R - 419 G -  81 B + 128500) / 1000)
// because a sum that is a hair below k + 0.5 with the binary coefficients
// is exactly k + 0.5 once rounded to single precision, and every other sum
// is at least 0.001 away from a rounding boundary. The exhaustive colour
// test holds every kernel to the exact evaluation.
#pragma once

#include <cstdint>

void yuv_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

// The same in single precision, written for the compiler to vectorise.
void yuv_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

// The 3-byte forms of the two (packed_pixels.h).
void yuv_packed_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);
void yuv_packed_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

#if CONVERTERS_HAVE_AVX_KERNELS
void yuv_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);
void yuv_packed_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);
#endif
