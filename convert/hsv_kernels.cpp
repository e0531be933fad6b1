#include "convert/hsv_pixels.h"
#include "convert/pixel_kernels.h"

namespace {

const pixel_kernel all_hsv_kernels[] = {
#if defined(__x86_64__) && defined(__GNUC__)
    {"avx2", hsv_pixels_avx2},
#endif
    {"scalar", hsv_pixels_scalar},
};
constexpr int all_count = sizeof all_hsv_kernels / sizeof all_hsv_kernels[0];

}  // namespace

const pixel_kernel* hsv_kernels(int* count) {
  // Fastest first, portable last: skipping the vector kernels the
  // processor lacks leaves a valid table.
  static const int skipped = cpu_runs_avx2() ? 0 : all_count - 1;
  *count = all_count - skipped;
  return all_hsv_kernels + skipped;
}
