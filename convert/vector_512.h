// The 512-bit form of vector_256.h: the same operations, sixteen lanes at a
// time, with mask registers in place of all-ones lanes. Include only from
// files compiled with -mavx512f -mavx512bw; everything here has internal
// linkage so that no copy of it can stand in for a portable one.
#pragma once

#if !defined(__AVX512F__) || !defined(__AVX512BW__)
#error "vector_512.h needs a file compiled with -mavx512f -mavx512bw"
#endif

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

namespace {

struct vector_512 {
  using floats = __m512;
  using ints = __m512i;
  // Bit k set where lane k's comparison holds.
  using mask = __mmask16;

  static constexpr int lanes = 16;

  // Memory.
  static ints load_pixels(const std::uint8_t* in) { return _mm512_loadu_si512(in); }
  // Sixteen 3-byte pixels (48 bytes, and not one byte more) as the lanes of
  // load_pixels, with 0 in the fourth byte: each quarter gets its 12 bytes,
  // then each pixel's bytes are spread to its lane.
  static ints load_packed_pixels(const std::uint8_t* in) {
    const __m512i bytes = _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFull, in);
    const __m512i quarters = _mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 12), bytes);
    const __m512i spread = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128));
    return _mm512_shuffle_epi8(quarters, spread);
  }
  static void store(float* out, floats x) { _mm512_storeu_ps(out, x); }
  // Bytes 0 to 2 of every lane; byte 3 keeps what out holds.
  static void store_low_three_bytes(std::uint8_t* out, ints x) {
    _mm512_mask_storeu_epi8(out, 0x7777777777777777u, x);
  }

  // Single precision.
  static floats splat(float value) { return _mm512_set1_ps(value); }
  static floats to_floats(ints x) { return _mm512_cvtepi32_ps(x); }
  static floats add(floats a, floats b) { return _mm512_add_ps(a, b); }
  static floats sub(floats a, floats b) { return _mm512_sub_ps(a, b); }
  static floats mul(floats a, floats b) { return _mm512_mul_ps(a, b); }
  static floats div(floats a, floats b) { return _mm512_div_ps(a, b); }
  static floats min(floats a, floats b) { return _mm512_min_ps(a, b); }
  static floats max(floats a, floats b) { return _mm512_max_ps(a, b); }
  static floats sqrt(floats x) { return _mm512_sqrt_ps(x); }
  // floor rather than roundscale: at -O0 GCC 12 expands roundscale to a macro whose all-ones
  // mask trips -Wsign-conversion; the rounding is the same.
  static floats floor(floats x) { return _mm512_floor_ps(x); }
  static floats abs(floats x) { return _mm512_abs_ps(x); }
  // x with its sign flipped in the lanes where sign_source's sign bit is set
  // (in integer bits: AVX-512F has no bitwise operations on floats).
  static floats flip_sign_where_negative(floats x, floats sign_source) {
    const __m512i sign = _mm512_set1_epi32(static_cast<int>(0x80000000u));
    return _mm512_castsi512_ps(_mm512_xor_si512(
        _mm512_castps_si512(x), _mm512_and_si512(_mm512_castps_si512(sign_source), sign)));
  }
  static mask greater(floats a, floats b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
  static mask less(floats a, floats b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
  static floats select(mask m, floats if_clear, floats if_set) {
    return _mm512_mask_blend_ps(m, if_clear, if_set);
  }
  static floats add_where(mask m, floats a, floats b) { return _mm512_mask_add_ps(a, m, a, b); }

  // 32-bit integers.
  static ints splat_ints(int value) { return _mm512_set1_epi32(value); }
  static ints truncate_to_ints(floats x) { return _mm512_cvttps_epi32(x); }
  static ints add_ints(ints a, ints b) { return _mm512_add_epi32(a, b); }
  static ints min_ints(ints a, ints b) { return _mm512_min_epi32(a, b); }
  static ints max_ints(ints a, ints b) { return _mm512_max_epi32(a, b); }
  static ints and_bits(ints a, ints b) { return _mm512_and_si512(a, b); }
  static ints or_bits(ints a, ints b) { return _mm512_or_si512(a, b); }
  static ints shift_left(ints x, unsigned bits) { return _mm512_slli_epi32(x, bits); }
  static ints shift_right(ints x, unsigned bits) { return _mm512_srli_epi32(x, bits); }
  static ints madd16(ints a, ints b) { return _mm512_madd_epi16(a, b); }
  static ints mulhi_u16(ints a, ints b) { return _mm512_mulhi_epu16(a, b); }
  static mask equal_ints(ints a, ints b) { return _mm512_cmpeq_epi32_mask(a, b); }
  static ints select_ints(mask m, ints if_clear, ints if_set) {
    return _mm512_mask_blend_epi32(m, if_clear, if_set);
  }
  static ints clear_where(mask m, ints x) { return _mm512_maskz_mov_epi32(_mm512_knot(m), x); }

  // Masks.
  static mask mask_and(mask a, mask b) { return _mm512_kand(a, b); }
  static mask mask_or(mask a, mask b) { return _mm512_kor(a, b); }
  static mask mask_and_not(mask a, mask b) { return _mm512_kandn(b, a); }
  static unsigned lane_bits(mask m) { return m; }
};

}  // namespace
