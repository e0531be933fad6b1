#include <immintrin.h>

#include "convert/avx2_helpers.h"
#include "convert/colour_constants.h"
#include "convert/yuv_pixels.h"

void yuv_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  const __m256i top = _mm256_set1_epi32(255);
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8, in += 32, out += 32) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i br = blue_red(pixels);
    const __m256i ga = green_fourth(pixels);
    const __m256i y = weighted_sum(br, ga, colour::y_blue_k, colour::y_green_k, colour::y_red_k);
    const __m256i cb =
        weighted_sum(br, ga, colour::cb_blue_k, colour::cb_green_k, colour::cb_red_k);
    const __m256i cr =
        weighted_sum(br, ga, colour::cr_blue_k, colour::cr_green_k, colour::cr_red_k);
    const __m256i y_byte = thousandths(_mm256_add_epi32(y, _mm256_set1_epi32(colour::half_k)));
    const __m256i u = _mm256_min_epi32(
        thousandths(_mm256_add_epi32(cb, _mm256_set1_epi32(colour::offset_and_half_k))), top);
    const __m256i v = _mm256_min_epi32(
        thousandths(_mm256_add_epi32(cr, _mm256_set1_epi32(colour::offset_and_half_k))), top);
    store_components(out, u, y_byte, v);
  }
  yuv_pixels_scalar(in, out, count - i);
}
