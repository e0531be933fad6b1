#include "convert/pixel_kernels.h"
#include "convert/yuv_pixels.h"

namespace {

// Fastest first; the exact one-pixel-at-a-time kernel last, so that
// there always is one.
const kernel_candidate candidates[] = {
#if CONVERTERS_HAVE_AVX_KERNELS
    {{"avx2", yuv_pixels_avx2, yuv_packed_pixels_avx2}, cpu_runs_avx2},
#endif
    {{"portable", yuv_pixels_portable, yuv_packed_pixels_portable}, runs_everywhere},
    {{"scalar", yuv_pixels_scalar, yuv_packed_pixels_scalar}, runs_everywhere},
};
constexpr int candidate_count = sizeof candidates / sizeof candidates[0];
static_assert(candidate_count <= most_kernels, "room for every kernel");

}  // namespace

const pixel_kernel* yuv_kernels(int* count) {
  static const kernel_table table = select_usable_kernels(candidates, candidate_count);
  *count = table.count;
  return table.kernels;
}
