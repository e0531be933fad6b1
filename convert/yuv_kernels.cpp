#include "convert/pixel_kernels.h"
#include "convert/yuv_pixels.h"

namespace {

const pixel_kernel all_yuv_kernels[] = {
#if defined(__x86_64__) && defined(__GNUC__)
    {"avx2", yuv_pixels_avx2},
#endif
    {"scalar", yuv_pixels_scalar},
};
constexpr int all_count = sizeof all_yuv_kernels / sizeof all_yuv_kernels[0];

}  // namespace

const pixel_kernel* yuv_kernels(int* count) {
  // The table is ordered fastest first with the portable kernel last:
  // skipping the vector kernels the processor lacks leaves a valid table.
  static const int skipped = cpu_runs_avx2() ? 0 : all_count - 1;
  *count = all_count - skipped;
  return all_yuv_kernels + skipped;
}
