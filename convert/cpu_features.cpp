#include "convert/pixel_kernels.h"

bool cpu_runs_avx2() {
#if CONVERTERS_HAVE_AVX_KERNELS
  // Also checks that the operating system saves the 256-bit registers.
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

bool cpu_runs_avx512() {
#if CONVERTERS_HAVE_AVX_KERNELS
  return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
#else
  return false;
#endif
}

bool runs_everywhere() { return true; }

kernel_table select_usable_kernels(const kernel_candidate* candidates, int count) {
  kernel_table table{};
  for (int i = 0; i < count && table.count < most_kernels; ++i) {
    if (candidates[i].runs_here()) {
      table.kernels[table.count++] = candidates[i].kernel;
    }
  }
  return table;
}
