// The 256-bit vector operations the kernels are written in: eight 32-bit
// lanes at a time, each operation one small function of vector_256, which
// the shared steps (pixel_vector_steps.h, hsv_vector_steps.h) take as their
// template argument. Include only from files compiled with -mavx2;
// everything here has internal linkage so that no copy of it can stand in
// for a portable one.
#pragma once

#if !defined(__AVX2__)
#error "vector_256.h needs a file compiled with -mavx2"
#endif

#include <immintrin.h>

#include <cstdint>

namespace {

struct vector_256 {
  using floats = __m256;
  using ints = __m256i;
  // All ones in the lanes where a comparison holds, zeros elsewhere.
  using mask = __m256;

  static constexpr int lanes = 8;

  // Memory.
  static ints load_pixels(const std::uint8_t* in) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  }
  // Eight 3-byte pixels (24 bytes, and not one byte more) as the lanes of
  // load_pixels, with 0 in the fourth byte: six words loaded, the last
  // three moved to the upper half, each pixel's bytes spread to its lane.
  static ints load_packed_pixels(const std::uint8_t* in) {
    const __m256i words = _mm256_maskload_epi32(reinterpret_cast<const int*>(in),
                                                _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0));
    const __m256i halves =
        _mm256_permutevar8x32_epi32(words, _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6));
    const __m256i spread =
        _mm256_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128, 0, 1, 2,
                         -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    return _mm256_shuffle_epi8(halves, spread);
  }
  static void store(float* out, floats x) { _mm256_storeu_ps(out, x); }
  // Bytes 0 to 2 of every lane; byte 3 keeps what out holds.
  static void store_low_three_bytes(std::uint8_t* out, ints x) {
    const __m256i kept = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(out)),
                                          _mm256_set1_epi32(~0x00FFFFFF));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_or_si256(x, kept));
  }

  // Single precision.
  static floats splat(float value) { return _mm256_set1_ps(value); }
  static floats to_floats(ints x) { return _mm256_cvtepi32_ps(x); }
  static floats add(floats a, floats b) { return _mm256_add_ps(a, b); }
  static floats sub(floats a, floats b) { return _mm256_sub_ps(a, b); }
  static floats mul(floats a, floats b) { return _mm256_mul_ps(a, b); }
  static floats div(floats a, floats b) { return _mm256_div_ps(a, b); }
  static floats min(floats a, floats b) { return _mm256_min_ps(a, b); }
  static floats max(floats a, floats b) { return _mm256_max_ps(a, b); }
  static floats sqrt(floats x) { return _mm256_sqrt_ps(x); }
  static floats floor(floats x) { return _mm256_floor_ps(x); }
  static floats abs(floats x) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x); }
  // x with its sign flipped in the lanes where sign_source's sign bit is set.
  static floats flip_sign_where_negative(floats x, floats sign_source) {
    return _mm256_xor_ps(x, _mm256_and_ps(sign_source, _mm256_set1_ps(-0.0f)));
  }
  static mask greater(floats a, floats b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
  static mask less(floats a, floats b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  static floats select(mask m, floats if_clear, floats if_set) {
    return _mm256_blendv_ps(if_clear, if_set, m);
  }
  // a + b in the lanes of m, a + 0 elsewhere (which is a unless a is -0).
  static floats add_where(mask m, floats a, floats b) {
    return _mm256_add_ps(a, _mm256_and_ps(m, b));
  }

  // 32-bit integers.
  static ints splat_ints(int value) { return _mm256_set1_epi32(value); }
  static ints truncate_to_ints(floats x) { return _mm256_cvttps_epi32(x); }
  static ints add_ints(ints a, ints b) { return _mm256_add_epi32(a, b); }
  static ints min_ints(ints a, ints b) { return _mm256_min_epi32(a, b); }
  static ints max_ints(ints a, ints b) { return _mm256_max_epi32(a, b); }
  static ints and_bits(ints a, ints b) { return _mm256_and_si256(a, b); }
  static ints or_bits(ints a, ints b) { return _mm256_or_si256(a, b); }
  static ints shift_left(ints x, int bits) { return _mm256_slli_epi32(x, bits); }
  static ints shift_right(ints x, int bits) { return _mm256_srli_epi32(x, bits); }
  // The signed 16-bit halves of a and b multiplied, each lane's two
  // products added.
  static ints madd16(ints a, ints b) { return _mm256_madd_epi16(a, b); }
  // The high 16 bits of the unsigned products of the 16-bit halves.
  static ints mulhi_u16(ints a, ints b) { return _mm256_mulhi_epu16(a, b); }
  static mask equal_ints(ints a, ints b) { return _mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b)); }
  static ints select_ints(mask m, ints if_clear, ints if_set) {
    return _mm256_blendv_epi8(if_clear, if_set, _mm256_castps_si256(m));
  }
  // x with the lanes of m set to 0.
  static ints clear_where(mask m, ints x) { return _mm256_andnot_si256(_mm256_castps_si256(m), x); }

  // Masks.
  // In the integer unit: the one use joins two integer comparisons, and the
  // result goes on to integer blends.
  static mask mask_and(mask a, mask b) {
    return _mm256_castsi256_ps(_mm256_and_si256(_mm256_castps_si256(a), _mm256_castps_si256(b)));
  }
  static mask mask_or(mask a, mask b) { return _mm256_or_ps(a, b); }
  // The lanes of a that are not lanes of b.
  static mask mask_and_not(mask a, mask b) { return _mm256_andnot_ps(b, a); }
  // Bit k set for lane k.
  static unsigned lane_bits(mask m) { return static_cast<unsigned>(_mm256_movemask_ps(m)); }
};

}  // namespace
