// The luma and colour-difference kernel in whole numbers, eight pixels at a
// time (see yuv_pixels.h for why thousandths give the exact bytes), from
// 4-byte working pixels or 3-byte stored ones.
#include "convert/colour_constants.h"
#include "convert/packed_pixels.h"
#include "convert/pixel_vector_steps.h"
#include "convert/vector_256.h"
#include "convert/yuv_pixels.h"

namespace {

template <int pixel_bytes>
std::int64_t yuv_groups(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  using V = vector_256;
  const V::ints top = V::splat_ints(255);
  std::int64_t i = 0;
  for (; i + V::lanes <= count; i += V::lanes) {
    const std::uint8_t* pixels = in + pixel_bytes * i;
    const colour_sums<V> sums = colour_sums_of<V>(pixel_bytes == 4 ? V::load_pixels(pixels)
                                                                   : V::load_packed_pixels(pixels));
    const V::ints y = thousandths_plus<V>(sums.y, colour::half_k);
    const V::ints u = V::min_ints(thousandths_plus<V>(sums.cb, colour::offset_and_half_k), top);
    const V::ints v = V::min_ints(thousandths_plus<V>(sums.cr, colour::offset_and_half_k), top);
    store_components<V>(out + 4 * i, u, y, v);
  }
  return i;
}

}  // namespace

void yuv_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  const std::int64_t done = yuv_groups<4>(in, out, count);
  yuv_pixels_scalar(in + 4 * done, out + 4 * done, count - done);
}

void yuv_packed_pixels_avx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  const std::int64_t done = yuv_groups<3>(in, out, count);
  run_on_packed_pixels(yuv_pixels_scalar, in + 3 * done, out + 4 * done, count - done);
}
