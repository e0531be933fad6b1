// Hue and saturation in single precision, eight pixels at a time. The
// estimates are rounded to bytes directly unless one lies within
// hsv_rounding_margin of a rounding boundary k + 0.5; such pixels, and
// only those, are redone one by one with hsv_pixel_exact. Grey pixels,
// whose colour differences are not zero but tiny, are set apart first.
#include <immintrin.h>

#include "convert/avx2_helpers.h"
#include "convert/colour_constants.h"
#include "convert/hsv_pixels.h"

namespace {

struct hue_saturation {
  __m256 hue;
  __m256 saturation;
};

__m256 splat(float value) { return _mm256_set1_ps(value); }

// atan(n / d) for 0 <= n <= d, d > 0, with the reduction and polynomial of
// the classic single-precision arc tangent (relative error near 2e-7):
// above tan(pi/8) the argument becomes (n - d) / (n + d) and pi/4 is added.
__m256 arctan_of_ratio(__m256 n, __m256 d) {
  const __m256 reduce =
      _mm256_cmp_ps(n, _mm256_mul_ps(d, splat(colour::tan_eighth_pi_f)), _CMP_GT_OQ);
  const __m256 num = _mm256_blendv_ps(n, _mm256_sub_ps(n, d), reduce);
  const __m256 den = _mm256_blendv_ps(d, _mm256_add_ps(n, d), reduce);
  const __m256 x = _mm256_div_ps(num, den);
  const __m256 z = _mm256_mul_ps(x, x);
  __m256 p = splat(colour::arctan_c9);
  p = _mm256_add_ps(_mm256_mul_ps(p, z), splat(colour::arctan_c7));
  p = _mm256_add_ps(_mm256_mul_ps(p, z), splat(colour::arctan_c5));
  p = _mm256_add_ps(_mm256_mul_ps(p, z), splat(colour::arctan_c3));
  p = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(p, z), x), x);
  return _mm256_add_ps(p, _mm256_and_ps(reduce, splat(colour::quarter_pi_f)));
}

// From Cb and Cr in thousandths (exact whole numbers, not both 0).
hue_saturation estimate(__m256i cb_thousandths, __m256i cr_thousandths) {
  const __m256 cb = _mm256_mul_ps(_mm256_cvtepi32_ps(cb_thousandths), splat(0.001f));
  const __m256 cr = _mm256_mul_ps(_mm256_cvtepi32_ps(cr_thousandths), splat(0.001f));
  const __m256 sign = splat(-0.0f);
  const __m256 cb_size = _mm256_andnot_ps(sign, cb);
  const __m256 cr_size = _mm256_andnot_ps(sign, cr);
  // The angle folded into [0, pi/4], then unfolded into (-pi, pi].
  __m256 angle = arctan_of_ratio(_mm256_min_ps(cb_size, cr_size), _mm256_max_ps(cb_size, cr_size));
  const __m256 steep = _mm256_cmp_ps(cr_size, cb_size, _CMP_GT_OQ);
  angle = _mm256_blendv_ps(angle, _mm256_sub_ps(splat(colour::half_pi_f), angle), steep);
  const __m256 leftwards = _mm256_cmp_ps(cb, _mm256_setzero_ps(), _CMP_LT_OQ);
  angle = _mm256_blendv_ps(angle, _mm256_sub_ps(splat(colour::pi_f), angle), leftwards);
  angle = _mm256_xor_ps(angle, _mm256_and_ps(cr, sign));
  // (angle + pi) * 255 / (2 pi)
  const __m256 hue = _mm256_add_ps(_mm256_mul_ps(angle, splat(colour::hue_per_radian_f)),
                                   splat(colour::hue_of_angle_0_f));
  const __m256 length = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(cb, cb), _mm256_mul_ps(cr, cr)));
  return {hue, _mm256_mul_ps(length, splat(colour::saturation_gain_f))};
}

// All ones where value lies within the margin of some k + 0.5.
__m256 near_rounding_boundary(__m256 value) {
  const __m256 fraction = _mm256_sub_ps(value, _mm256_floor_ps(value));
  const __m256 distance = _mm256_andnot_ps(splat(-0.0f), _mm256_sub_ps(fraction, splat(0.5f)));
  return _mm256_cmp_ps(distance, splat(hsv_rounding_margin), _CMP_LT_OQ);
}

// Rounded half up and kept within 0 to 255, as the exact rule does for the
// values that reach here (none below -0.5).
__m256i round_to_byte(__m256 value) {
  const __m256i rounded = _mm256_cvttps_epi32(_mm256_add_ps(value, splat(0.5f)));
  return _mm256_min_epi32(_mm256_max_epi32(rounded, _mm256_setzero_si256()),
                          _mm256_set1_epi32(255));
}

}  // namespace

void estimate_hue_saturation_avx2(const std::uint8_t* in, float* hue, float* saturation) {
  const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  const __m256i br = blue_red(pixels);
  const __m256i ga = green_fourth(pixels);
  const hue_saturation e =
      estimate(weighted_sum(br, ga, colour::cb_blue_k, colour::cb_green_k, colour::cb_red_k),
               weighted_sum(br, ga, colour::cr_blue_k, colour::cr_green_k, colour::cr_red_k));
  _mm256_storeu_ps(hue, e.hue);
  _mm256_storeu_ps(saturation, e.saturation);
}

void hsv_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8, in += 32, out += 32) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i br = blue_red(pixels);
    const __m256i ga = green_fourth(pixels);
    const __m256i cb =
        weighted_sum(br, ga, colour::cb_blue_k, colour::cb_green_k, colour::cb_red_k);
    const __m256i cr =
        weighted_sum(br, ga, colour::cr_blue_k, colour::cr_green_k, colour::cr_red_k);
    const __m256i value = thousandths(
        _mm256_add_epi32(weighted_sum(br, ga, colour::y_blue_k, colour::y_green_k, colour::y_red_k),
                         _mm256_set1_epi32(colour::half_k)));
    const hue_saturation e = estimate(cb, cr);
    // Only grey has Cb and Cr both 0 in thousandths. Its exact hue is that
    // of (-2, 1) in (Cb, Cr), 236, except black's 128; its saturation is 0.
    const __m256i zero = _mm256_setzero_si256();
    const __m256i grey =
        _mm256_and_si256(_mm256_cmpeq_epi32(cb, zero), _mm256_cmpeq_epi32(cr, zero));
    const __m256i grey_hue = _mm256_blendv_epi8(_mm256_set1_epi32(colour::grey_hue_byte),
                                                _mm256_set1_epi32(colour::black_hue_byte),
                                                _mm256_cmpeq_epi32(value, zero));
    const __m256i hue = _mm256_blendv_epi8(round_to_byte(e.hue), grey_hue, grey);
    const __m256i saturation = _mm256_andnot_si256(grey, round_to_byte(e.saturation));
    store_components(out, saturation, value, hue);
    const __m256 doubtful =
        _mm256_or_ps(near_rounding_boundary(e.hue), near_rounding_boundary(e.saturation));
    redo_exact_lanes(static_cast<unsigned>(
                         _mm256_movemask_ps(_mm256_andnot_ps(_mm256_castsi256_ps(grey), doubtful))),
                     in, out);
  }
  hsv_pixels_scalar(in, out, count - i);
}
