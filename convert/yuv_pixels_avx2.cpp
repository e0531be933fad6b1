// The luma and colour-difference kernel in whole numbers, eight pixels at a
// time (see yuv_pixels.h for why thousandths give the exact bytes).
#include "convert/colour_constants.h"
#include "convert/pixel_vector_steps.h"
#include "convert/vector_256.h"
#include "convert/yuv_pixels.h"

void yuv_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  using V = vector_256;
  constexpr int group_bytes = 4 * V::lanes;
  const V::ints top = V::splat_ints(255);
  std::int64_t i = 0;
  for (; i + V::lanes <= count; i += V::lanes, in += group_bytes, out += group_bytes) {
    const colour_sums<V> sums = colour_sums_of<V>(V::load_pixels(in));
    const V::ints y = thousandths_plus<V>(sums.y, colour::half_k);
    const V::ints u = V::min_ints(thousandths_plus<V>(sums.cb, colour::offset_and_half_k), top);
    const V::ints v = V::min_ints(thousandths_plus<V>(sums.cr, colour::offset_and_half_k), top);
    store_components<V>(out, u, y, v);
  }
  yuv_pixels_scalar(in, out, count - i);
}
