#include "convert/pixel_kernels.h"

bool cpu_runs_avx2() {
#if defined(__x86_64__) && defined(__GNUC__)
  // Also checks that the operating system saves the 256-bit registers.
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}
