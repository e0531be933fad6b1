// The 512-bit form of hsv_pixels_avx2.cpp: the same estimates, sixteen
// pixels at a time, with masks in place of blends.
// GCC 12's 512-bit headers fill "undefined" operands from themselves, which
// its own uninitialised-value warning reports inside the headers. Clang
// neither warns there nor knows the second warning's name.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include <cstdint>

#include "convert/colour_constants.h"
#include "convert/hsv_pixels.h"

namespace {

struct hue_saturation {
  __m512 hue;
  __m512 saturation;
};

__m512 splat(float value) { return _mm512_set1_ps(value); }

// Two signed 16-bit weights side by side in every 32-bit lane: low applies
// to the lane's low half, high to its high half (for _mm512_madd_epi16).
__m512i weight_pair(int low, int high) {
  const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
                             static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16;
  return _mm512_set1_epi32(static_cast<int>(bits));
}

// blue * B + green * G + red * R of every pixel, from blue and red as the
// 16-bit halves of each lane and green with the fourth byte likewise.
__m512i weighted_sum(__m512i blue_red, __m512i green_fourth, int blue, int green, int red) {
  return _mm512_add_epi32(_mm512_madd_epi16(blue_red, weight_pair(blue, red)),
                          _mm512_madd_epi16(green_fourth, weight_pair(green, 0)));
}

// x / 1000 rounded down for 0 <= x < 262144 (see avx2_helpers.h).
__m512i thousandths(__m512i x) {
  const __m512i eighths = _mm512_srli_epi32(x, 3);
  return _mm512_srli_epi32(_mm512_mulhi_epu16(eighths, _mm512_set1_epi32(33555)), 6);
}

// atan(n / d) for 0 <= n <= d, d > 0 (see hsv_pixels_avx2.cpp).
__m512 arctan_of_ratio(__m512 n, __m512 d) {
  const __mmask16 reduce =
      _mm512_cmp_ps_mask(n, _mm512_mul_ps(d, splat(colour::tan_eighth_pi_f)), _CMP_GT_OQ);
  const __m512 num = _mm512_mask_sub_ps(n, reduce, n, d);
  const __m512 den = _mm512_mask_add_ps(d, reduce, n, d);
  const __m512 x = _mm512_div_ps(num, den);
  const __m512 z = _mm512_mul_ps(x, x);
  __m512 p = splat(colour::arctan_c9);
  p = _mm512_add_ps(_mm512_mul_ps(p, z), splat(colour::arctan_c7));
  p = _mm512_add_ps(_mm512_mul_ps(p, z), splat(colour::arctan_c5));
  p = _mm512_add_ps(_mm512_mul_ps(p, z), splat(colour::arctan_c3));
  p = _mm512_add_ps(_mm512_mul_ps(_mm512_mul_ps(p, z), x), x);
  return _mm512_mask_add_ps(p, reduce, p, splat(colour::quarter_pi_f));
}

hue_saturation estimate(__m512i cb_thousandths, __m512i cr_thousandths) {
  const __m512 cb = _mm512_mul_ps(_mm512_cvtepi32_ps(cb_thousandths), splat(0.001f));
  const __m512 cr = _mm512_mul_ps(_mm512_cvtepi32_ps(cr_thousandths), splat(0.001f));
  const __m512 cb_size = _mm512_abs_ps(cb);
  const __m512 cr_size = _mm512_abs_ps(cr);
  __m512 angle = arctan_of_ratio(_mm512_min_ps(cb_size, cr_size), _mm512_max_ps(cb_size, cr_size));
  angle = _mm512_mask_sub_ps(angle, _mm512_cmp_ps_mask(cr_size, cb_size, _CMP_GT_OQ),
                             splat(colour::half_pi_f), angle);
  angle = _mm512_mask_sub_ps(angle, _mm512_cmp_ps_mask(cb, _mm512_setzero_ps(), _CMP_LT_OQ),
                             splat(colour::pi_f), angle);
  // The sign of Cr, moved onto the angle.
  const __m512i sign = _mm512_set1_epi32(static_cast<int>(0x80000000u));
  angle = _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(angle),
                                               _mm512_and_si512(_mm512_castps_si512(cr), sign)));
  const __m512 hue = _mm512_add_ps(_mm512_mul_ps(angle, splat(colour::hue_per_radian_f)),
                                   splat(colour::hue_of_angle_0_f));
  const __m512 length = _mm512_sqrt_ps(_mm512_add_ps(_mm512_mul_ps(cb, cb), _mm512_mul_ps(cr, cr)));
  return {hue, _mm512_mul_ps(length, splat(colour::saturation_gain_f))};
}

// The value byte, and Cb and Cr in thousandths, of sixteen pixels.
struct components {
  __m512i value;
  __m512i cb;
  __m512i cr;
};

components components_of(__m512i pixels) {
  const __m512i low_bytes = _mm512_set1_epi32(0x00FF00FF);
  const __m512i br = _mm512_and_si512(pixels, low_bytes);
  const __m512i ga = _mm512_and_si512(_mm512_srli_epi32(pixels, 8), low_bytes);
  return {thousandths(_mm512_add_epi32(
              weighted_sum(br, ga, colour::y_blue_k, colour::y_green_k, colour::y_red_k),
              _mm512_set1_epi32(colour::half_k))),
          weighted_sum(br, ga, colour::cb_blue_k, colour::cb_green_k, colour::cb_red_k),
          weighted_sum(br, ga, colour::cr_blue_k, colour::cr_green_k, colour::cr_red_k)};
}

__mmask16 near_rounding_boundary(__m512 value) {
  // floor rather than roundscale: at -O0 GCC 12 expands roundscale to a macro whose all-ones
  // mask trips -Wsign-conversion; the rounding is the same.
  const __m512 whole = _mm512_floor_ps(value);
  const __m512 distance = _mm512_abs_ps(_mm512_sub_ps(_mm512_sub_ps(value, whole), splat(0.5f)));
  return _mm512_cmp_ps_mask(distance, splat(hsv_rounding_margin), _CMP_LT_OQ);
}

__m512i round_to_byte(__m512 value) {
  const __m512i rounded = _mm512_cvttps_epi32(_mm512_add_ps(value, splat(0.5f)));
  return _mm512_min_epi32(_mm512_max_epi32(rounded, _mm512_setzero_si512()),
                          _mm512_set1_epi32(255));
}

}  // namespace

void estimate_hue_saturation_avx512(const std::uint8_t* in, float* hue, float* saturation) {
  const components c = components_of(_mm512_loadu_si512(in));
  const hue_saturation e = estimate(c.cb, c.cr);
  _mm512_storeu_ps(hue, e.hue);
  _mm512_storeu_ps(saturation, e.saturation);
}

void hsv_pixels_avx512(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  const __m512i zero = _mm512_setzero_si512();
  std::int64_t i = 0;
  for (; i + 16 <= count; i += 16, in += 64, out += 64) {
    const components c = components_of(_mm512_loadu_si512(in));
    const hue_saturation e = estimate(c.cb, c.cr);
    // Grey, the only colour with Cb and Cr both 0 in thousandths: hue 236,
    // black's 128, saturation 0 (see hsv_pixels_avx2.cpp).
    const __mmask16 grey =
        _mm512_cmpeq_epi32_mask(c.cb, zero) & _mm512_cmpeq_epi32_mask(c.cr, zero);
    const __m512i grey_hue = _mm512_mask_blend_epi32(_mm512_cmpeq_epi32_mask(c.value, zero),
                                                     _mm512_set1_epi32(colour::grey_hue_byte),
                                                     _mm512_set1_epi32(colour::black_hue_byte));
    const __m512i hue = _mm512_mask_blend_epi32(grey, round_to_byte(e.hue), grey_hue);
    const __m512i saturation =
        _mm512_maskz_mov_epi32(static_cast<__mmask16>(~grey), round_to_byte(e.saturation));
    const __m512i packed = _mm512_or_si512(
        _mm512_or_si512(saturation, _mm512_slli_epi32(c.value, 8)), _mm512_slli_epi32(hue, 16));
    // Bytes 0 to 2 of every pixel; the fourth keeps what out holds.
    _mm512_mask_storeu_epi8(out, 0x7777777777777777u, packed);
    redo_exact_lanes(
        static_cast<unsigned>(
            (near_rounding_boundary(e.hue) | near_rounding_boundary(e.saturation)) & ~grey),
        in, out);
  }
  hsv_pixels_scalar(in, out, count - i);
}
