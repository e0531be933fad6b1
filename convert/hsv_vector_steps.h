// Hue and saturation in single precision, a vector group of pixels at a
// time, written once over the vector width V (vector_256 or vector_512).
// The estimates are rounded to bytes directly unless one lies within
// hsv_rounding_margin of a rounding boundary k + 0.5; such pixels, and
// only those, are redone one by one with hsv_pixel_exact. Grey pixels,
// whose colour differences are not zero but tiny, are set apart first.
// Everything here has internal linkage.
#pragma once

#include <cstdint>

#include "convert/colour_constants.h"
#include "convert/hsv_pixels.h"
#include "convert/packed_pixels.h"
#include "convert/pixel_vector_steps.h"

namespace {

template <typename V>
struct hue_saturation {
  typename V::floats hue;
  typename V::floats saturation;
};

// atan(n / d) for 0 <= n <= d, d > 0, with the reduction and polynomial of
// the classic single-precision arc tangent (relative error near 2e-7):
// above tan(pi/8) the argument becomes (n - d) / (n + d) and pi/4 is added.
template <typename V>
typename V::floats arctan_of_ratio(typename V::floats n, typename V::floats d) {
  const typename V::mask reduce = V::greater(n, V::mul(d, V::splat(colour::tan_eighth_pi_f)));
  const typename V::floats num = V::select(reduce, n, V::sub(n, d));
  const typename V::floats den = V::select(reduce, d, V::add(n, d));
  const typename V::floats x = V::div(num, den);
  const typename V::floats z = V::mul(x, x);
  typename V::floats p = V::splat(colour::arctan_c9);
  p = V::add(V::mul(p, z), V::splat(colour::arctan_c7));
  p = V::add(V::mul(p, z), V::splat(colour::arctan_c5));
  p = V::add(V::mul(p, z), V::splat(colour::arctan_c3));
  p = V::add(V::mul(V::mul(p, z), x), x);
  return V::add_where(reduce, p, V::splat(colour::quarter_pi_f));
}

// From Cb and Cr in thousandths (exact whole numbers, not both 0).
template <typename V>
hue_saturation<V> estimate(typename V::ints cb_thousandths, typename V::ints cr_thousandths) {
  const typename V::floats thousandth = V::splat(0.001f);
  const typename V::floats cb = V::mul(V::to_floats(cb_thousandths), thousandth);
  const typename V::floats cr = V::mul(V::to_floats(cr_thousandths), thousandth);
  const typename V::floats cb_size = V::abs(cb);
  const typename V::floats cr_size = V::abs(cr);
  // The angle folded into [0, pi/4], then unfolded into (-pi, pi].
  typename V::floats angle = arctan_of_ratio<V>(V::min(cb_size, cr_size), V::max(cb_size, cr_size));
  angle =
      V::select(V::greater(cr_size, cb_size), angle, V::sub(V::splat(colour::half_pi_f), angle));
  angle = V::select(V::less(cb, V::splat(0.0f)), angle, V::sub(V::splat(colour::pi_f), angle));
  angle = V::flip_sign_where_negative(angle, cr);
  // (angle + pi) * 255 / (2 pi)
  const typename V::floats hue =
      V::add(V::mul(angle, V::splat(colour::hue_per_radian_f)), V::splat(colour::hue_of_angle_0_f));
  const typename V::floats length = V::sqrt(V::add(V::mul(cb, cb), V::mul(cr, cr)));
  return {hue, V::mul(length, V::splat(colour::saturation_gain_f))};
}

// The lanes whose value lies within the margin of some k + 0.5.
template <typename V>
typename V::mask near_rounding_boundary(typename V::floats value) {
  const typename V::floats fraction = V::sub(value, V::floor(value));
  const typename V::floats distance = V::abs(V::sub(fraction, V::splat(0.5f)));
  return V::less(distance, V::splat(hsv_rounding_margin));
}

// Rounded half up and kept within 0 to 255, as the exact rule does for the
// values that reach here (none below -0.5).
template <typename V>
typename V::ints round_to_byte(typename V::floats value) {
  const typename V::ints rounded = V::truncate_to_ints(V::add(value, V::splat(0.5f)));
  return V::min_ints(V::max_ints(rounded, V::splat_ints(0)), V::splat_ints(255));
}

// Only grey has Cb and Cr both 0 in thousandths. Its exact hue is that of
// (-2, 1) in (Cb, Cr), 236, except black's 128; its saturation is 0.
template <typename V>
typename V::mask grey_lanes(const colour_sums<V>& sums) {
  const typename V::ints zero = V::splat_ints(0);
  return V::mask_and(V::equal_ints(sums.cb, zero), V::equal_ints(sums.cr, zero));
}

template <typename V>
typename V::ints grey_hue_byte(typename V::ints value) {
  return V::select_ints(V::equal_ints(value, V::splat_ints(0)),
                        V::splat_ints(colour::grey_hue_byte),
                        V::splat_ints(colour::black_hue_byte));
}

// One vector group: saturation, value and hue bytes to out, the doubtful
// pixels redone exactly. The pixels in are pixel_bytes long: 4 as working
// pixels, 3 as 24-bit rows store them.
template <typename V, int pixel_bytes>
void hsv_group(const std::uint8_t* in, std::uint8_t* out) {
  const colour_sums<V> sums =
      colour_sums_of<V>(pixel_bytes == 4 ? V::load_pixels(in) : V::load_packed_pixels(in));
  const typename V::ints value = thousandths_plus<V>(sums.y, colour::half_k);
  const hue_saturation<V> e = estimate<V>(sums.cb, sums.cr);
  const typename V::mask grey = grey_lanes(sums);
  const typename V::ints hue =
      V::select_ints(grey, round_to_byte<V>(e.hue), grey_hue_byte<V>(value));
  const typename V::ints saturation = V::clear_where(grey, round_to_byte<V>(e.saturation));
  store_components<V>(out, saturation, value, hue);
  const typename V::mask doubtful =
      V::mask_or(near_rounding_boundary<V>(e.hue), near_rounding_boundary<V>(e.saturation));
  redo_exact_lanes(V::lane_bits(V::mask_and_not(doubtful, grey)), in, pixel_bytes, out);
}

// The whole groups of count pixels; returns how many pixels they held.
template <typename V, int pixel_bytes>
std::int64_t hsv_groups(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  std::int64_t i = 0;
  for (; i + V::lanes <= count; i += V::lanes) {
    hsv_group<V, pixel_bytes>(in + pixel_bytes * i, out + 4 * i);
  }
  return i;
}

template <typename V>
void hsv_pixels_vector(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  const std::int64_t done = hsv_groups<V, 4>(in, out, count);
  hsv_pixels_scalar(in + 4 * done, out + 4 * done, count - done);
}

template <typename V>
void hsv_packed_pixels_vector(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  const std::int64_t done = hsv_groups<V, 3>(in, out, count);
  run_on_packed_pixels(hsv_pixels_scalar, in + 3 * done, out + 4 * done, count - done);
}

template <typename V>
void estimate_hue_saturation_vector(const std::uint8_t* in, float* hue, float* saturation) {
  const colour_sums<V> sums = colour_sums_of<V>(V::load_pixels(in));
  const hue_saturation<V> e = estimate<V>(sums.cb, sums.cr);
  V::store(hue, e.hue);
  V::store(saturation, e.saturation);
}

}  // namespace
