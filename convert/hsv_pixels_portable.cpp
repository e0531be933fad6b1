// Hue and saturation estimated in single precision in plain C++, a block of
// pixels at a time, with the same arithmetic as the AVX kernels: the loop
// over a block has no branches and no calls, so the compiler vectorises it
// for any vector unit. Estimates that lie within hsv_rounding_margin of a
// rounding boundary k + 0.5 are flagged, and only those pixels are redone
// one by one with hsv_pixel_exact after the block. Grey pixels, whose
// colour differences are not zero but tiny, are set apart.
#include <cmath>

#include "convert/colour_constants.h"
#include "convert/hsv_pixels.h"
#include "convert/packed_pixels.h"
#include "convert/pixel_words.h"

namespace {

using namespace colour;

constexpr int block_pixels = 64;

float smaller(float a, float b) { return a < b ? a : b; }
float larger(float a, float b) { return a > b ? a : b; }
float size_of(float a) { return a < 0.0f ? -a : a; }

// atan(n / d) for 0 <= n <= d, d > 0.
float arctan_of_ratio(float n, float d) {
  const bool reduce = n > d * tan_eighth_pi_f;
  const float difference = n - d, sum = n + d;
  const float x = (reduce ? difference : n) / (reduce ? sum : d);
  const float z = x * x;
  float p = arctan_c9;
  p = p * z + arctan_c7;
  p = p * z + arctan_c5;
  p = p * z + arctan_c3;
  p = p * z * x + x;
  return p + (reduce ? quarter_pi_f : 0.0f);
}

struct hue_saturation {
  float hue;
  float saturation;
};

// From Cb and Cr in thousandths (exact whole numbers). Grey, with both 0,
// gets a harmless estimate that the caller replaces. Inlined into both
// loops that call it, or neither could be vectorised.
[[gnu::always_inline]] inline hue_saturation estimate(float cb_thousandths, float cr_thousandths) {
  const float cb = cb_thousandths * 0.001f;
  const float cr = cr_thousandths * 0.001f;
  const float cb_size = size_of(cb), cr_size = size_of(cr);
  const float longer = larger(cb_size, cr_size);
  // The angle folded into [0, pi/4], then unfolded into (-pi, pi].
  const float folded = arctan_of_ratio(smaller(cb_size, cr_size), longer > 0.0f ? longer : 1.0f);
  const float steep = half_pi_f - folded;
  const float right = cr_size > cb_size ? steep : folded;
  const float left = pi_f - right;
  const float upper = cb < 0.0f ? left : right;
  const float lower = -upper;
  const float angle = cr < 0.0f ? lower : upper;
  const float hue = angle * hue_per_radian_f + hue_of_angle_0_f;
  const float length = std::sqrt(cb * cb + cr * cr);
  return {hue, length * saturation_gain_f};
}

// value rounded half up: exact where the estimate is not doubtful. No
// clamp: the estimates lie within 1e-4 of the exact hue (at most 255) and
// saturation (at most 254.62), so the rounding stays below 256.
std::int32_t round_to_whole(float value) { return static_cast<std::int32_t>(value + 0.5f); }

// True when value lies within the margin of some k + 0.5, from its rounded
// form: then value - rounded is within the margin of +-0.5 (the rounding
// of value + 0.5 can only take it to the far side of the boundary). The
// difference is exact: rounded is 0 or within a factor 2 of value.
bool near_rounding_boundary(float value, std::int32_t rounded) {
  return size_of(value - static_cast<float>(rounded)) > 0.5f - hsv_rounding_margin;
}

// Up to block_pixels pixels; returns whether any was flagged in doubtful.
bool estimate_block(const std::uint8_t* in, std::uint8_t* out, int count, std::int32_t* doubtful) {
  int any = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint32_t pixel = load_pixel_word(in + 4 * i);
    const float blue = pixel_byte(pixel, 0), green = pixel_byte(pixel, 1),
                red = pixel_byte(pixel, 2);
    const float cb = weighted(red, green, blue, cb_red_k, cb_green_k, cb_blue_k);
    const float cr = weighted(red, green, blue, cr_red_k, cr_green_k, cr_blue_k);
    const float value = thousandths_floor(weighted(red, green, blue, y_red_k, y_green_k, y_blue_k) +
                                          static_cast<float>(half_k));
    const hue_saturation e = estimate(cb, cr);
    // Only grey has Cb and Cr both 0 in thousandths.
    const bool grey = cb == 0.0f && cr == 0.0f;
    const std::int32_t grey_hue = value == 0.0f ? black_hue_byte : grey_hue_byte;
    const std::int32_t hue_byte = round_to_whole(e.hue);
    const std::int32_t saturation_byte = round_to_whole(e.saturation);
    const std::int32_t hue = grey ? grey_hue : hue_byte;
    const std::int32_t saturation = grey ? 0 : saturation_byte;
    store_pixel_word(out + 4 * i, packed_pixel_word(saturation, static_cast<std::int32_t>(value),
                                                    hue, load_pixel_word(out + 4 * i)));
    const bool doubt = !grey && (near_rounding_boundary(e.hue, hue_byte) ||
                                 near_rounding_boundary(e.saturation, saturation_byte));
    doubtful[i] = doubt ? 1 : 0;
    any |= doubt ? 1 : 0;
  }
  return any != 0;
}

}  // namespace

void estimate_hue_saturation_portable(const std::uint8_t* in, float* hue, float* saturation,
                                      int count) {
  for (int i = 0; i < count; ++i) {
    const std::uint32_t pixel = load_pixel_word(in + 4 * i);
    const float blue = pixel_byte(pixel, 0), green = pixel_byte(pixel, 1),
                red = pixel_byte(pixel, 2);
    const hue_saturation e = estimate(weighted(red, green, blue, cb_red_k, cb_green_k, cb_blue_k),
                                      weighted(red, green, blue, cr_red_k, cr_green_k, cr_blue_k));
    hue[i] = e.hue;
    saturation[i] = e.saturation;
  }
}

void hsv_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  std::int32_t doubtful[block_pixels];
  for (std::int64_t done = 0; done < count; done += block_pixels) {
    const int pixels = static_cast<int>(count - done < block_pixels ? count - done : block_pixels);
    const std::uint8_t* block_in = in + 4 * done;
    std::uint8_t* block_out = out + 4 * done;
    if (estimate_block(block_in, block_out, pixels, doubtful)) {
      for (int i = 0; i < pixels; ++i) {
        if (doubtful[i] != 0) {
          hsv_pixel_exact(block_in + 4 * i, block_out + 4 * i);
        }
      }
    }
  }
}

void hsv_packed_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  run_on_packed_pixels(hsv_pixels_portable, in, out, count);
}
