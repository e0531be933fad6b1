// Small building blocks shared by the 256-bit vector kernels. Include only
// from files compiled for that instruction set; everything here has
// internal linkage so that no copy of it can stand in for a portable one.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace {

// Two signed 16-bit weights side by side in every 32-bit lane: low applies
// to the lane's low half, high to its high half (for _mm256_madd_epi16).
__m256i weight_pair(int low, int high) {
  const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
                             static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16;
  return _mm256_set1_epi32(static_cast<int>(bits));
}

// Blue and red of eight pixels as 16-bit halves of each lane ...
__m256i blue_red(__m256i pixels) { return _mm256_and_si256(pixels, _mm256_set1_epi32(0x00FF00FF)); }

// ... and green with the fourth byte, which every weight pair zeroes.
__m256i green_fourth(__m256i pixels) {
  return _mm256_and_si256(_mm256_srli_epi32(pixels, 8), _mm256_set1_epi32(0x00FF00FF));
}

// weights.blue * B + weights.green * G + weights.red * R in each lane.
__m256i weighted_sum(__m256i br, __m256i ga, int blue, int green, int red) {
  return _mm256_add_epi32(_mm256_madd_epi16(br, weight_pair(blue, red)),
                          _mm256_madd_epi16(ga, weight_pair(green, 0)));
}

// x / 1000 rounded down, for 0 <= x < 262144: x / 8 fits 15 bits, and
// 33555 / 2^22 exceeds 1/125 by so little (q * 1.4e-7 < 0.0044 for every
// such quotient q) that the product never reaches the next whole number.
__m256i thousandths(__m256i x) {
  const __m256i eighths = _mm256_srli_epi32(x, 3);  // high halves stay 0
  return _mm256_srli_epi32(_mm256_mulhi_epu16(eighths, _mm256_set1_epi32(33555)), 6);
}

// The three component bytes in bytes 0 to 2, byte 3 from what out holds.
void store_components(std::uint8_t* out, __m256i byte0, __m256i byte1, __m256i byte2) {
  const __m256i kept = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(out)),
                                        _mm256_set1_epi32(~0x00FFFFFF));
  const __m256i packed = _mm256_or_si256(_mm256_or_si256(byte0, _mm256_slli_epi32(byte1, 8)),
                                         _mm256_or_si256(_mm256_slli_epi32(byte2, 16), kept));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
}

}  // namespace
