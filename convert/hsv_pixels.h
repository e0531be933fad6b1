// Hue, saturation and value kernels (see pixel_kernels.h for the contract).
#pragma once

#include <cstdint>

// One pixel, every step rounded where the definition rounds it: the exact
// path, which every fast kernel falls back to for pixels that lie too close
// to a rounding boundary for its own arithmetic to decide.
void hsv_pixel_exact(const std::uint8_t* in, std::uint8_t* out);

// The exact path, one pixel at a time.
void hsv_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

// Redoes with hsv_pixel_exact the pixels of a vector group whose bits are
// set in lanes (bit k for the pixel k of in, pixel_bytes long, and of out).
void redo_exact_lanes(unsigned lanes, const std::uint8_t* in, int pixel_bytes, std::uint8_t* out);

// Plain C++ written for the compiler to vectorise; estimates like the AVX
// kernels and redoes doubtful pixels with hsv_pixel_exact.
void hsv_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

// Hue and saturation of count pixels as the portable kernel estimates them
// before rounding, for the test that bounds their error.
void estimate_hue_saturation_portable(const std::uint8_t* in, float* hue, float* saturation,
                                      int count);

// The 3-byte forms of the two (packed_pixels.h).
void hsv_packed_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);
void hsv_packed_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

#if CONVERTERS_HAVE_AVX_KERNELS
void hsv_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);
void hsv_pixels_avx512(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);
void hsv_packed_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);
void hsv_packed_pixels_avx512(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

// Hue and saturation of 8 (16) pixels as the 256-bit (512-bit) kernel
// estimates them before rounding, for the test that bounds their error.
void estimate_hue_saturation_avx2(const std::uint8_t* in, float* hue, float* saturation);
void estimate_hue_saturation_avx512(const std::uint8_t* in, float* hue, float* saturation);
#endif

// An estimating kernel defers a hue or saturation to hsv_pixel_exact when its
// estimate lies within this distance of a value k + 0.5. The estimates are
// far closer than that to the exact values (the exhaustive colour test
// measures the largest error over every colour).
constexpr float hsv_rounding_margin = 1.0f / 4096;
