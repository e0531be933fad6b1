// Hue, saturation and value kernels (see pixel_kernels.h for the contract).
#pragma once

#include <cstdint>

// One pixel, every step rounded where the definition rounds it: the
// portable kernel, and the vector kernels' answer for pixels that lie too
// close to a rounding boundary for their own arithmetic to decide.
void hsv_pixel_exact(const std::uint8_t* in, std::uint8_t* out);

void hsv_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

#if defined(__x86_64__) && defined(__GNUC__)
void hsv_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

// Hue and saturation of eight pixels as the vector kernel estimates them
// before rounding, for the test that bounds their error.
struct hsv_estimates {
  float hue[8];
  float saturation[8];
};
void estimate_hue_saturation_avx2(const std::uint8_t* in, hsv_estimates* out);
#endif

// A vector kernel defers a hue or saturation to hsv_pixel_exact when its
// estimate lies within this distance of a value k + 0.5. The estimates are
// far closer than that to the exact values (the exhaustive colour test
// measures the largest error over every colour).
constexpr float hsv_rounding_margin = 1.0f / 4096;
