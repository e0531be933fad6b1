#include "convert/pixel_kernels.h"
#include "convert/hsv_pixels.h"

namespace {

// Fastest first; the portable kernel last, so that there always is one.
const kernel_candidate candidates[] = {
#if defined(__x86_64__) && defined(__GNUC__)
    {{"avx512", hsv_pixels_avx512}, cpu_runs_avx512},
    {{"avx2", hsv_pixels_avx2}, cpu_runs_avx2},
#endif
    {{"scalar", hsv_pixels_scalar}, runs_everywhere},
};
constexpr int candidate_count = sizeof candidates / sizeof candidates[0];

struct kernel_table {
  pixel_kernel kernels[candidate_count];
  int count;
};

kernel_table usable_table() {
  kernel_table table{};
  table.count = select_usable_kernels(candidates, candidate_count, table.kernels);
  return table;
}

}  // namespace

const pixel_kernel* hsv_kernels(int* count) {
  static const kernel_table table = usable_table();
  *count = table.count;
  return table.kernels;
}
