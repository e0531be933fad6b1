#include "convert/pixel_kernels.h"

#if CONVERTERS_HAVE_AVX_KERNELS
#include <cpuid.h>

#include <cstdint>

namespace {

// Asked of the processor once, when the first kernel table is made, with
// the three questions these kernels need: the compiler's own feature probe
// asks a dozen, in every process at start-up, and each can cost a trap
// into the hypervisor.
struct vector_units {
  bool avx2;
  bool avx512;
};

bool bit(unsigned word, int n) { return ((word >> n) & 1u) != 0; }

// The register state the operating system saves on a task switch.
std::uint64_t saved_register_state() {
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return static_cast<std::uint64_t>(high) << 32 | low;
}

vector_units ask_processor() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || !bit(c, 27) || !bit(c, 28)) {
    return {false, false};  // no XGETBV or no AVX
  }
  const std::uint64_t state = saved_register_state();
  const bool wide_registers_saved = (state & 0x6u) == 0x6u;      // XMM and YMM
  const bool widest_registers_saved = (state & 0xE6u) == 0xE6u;  // and opmask, ZMM
  if (!wide_registers_saved || __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
    return {false, false};
  }
  return {bit(b, 5), widest_registers_saved && bit(b, 16) && bit(b, 30)};
}

vector_units this_processor() {
  static const vector_units units = ask_processor();
  return units;
}

}  // namespace

bool cpu_runs_avx2() { return this_processor().avx2; }

bool cpu_runs_avx512() { return this_processor().avx512; }
#else
bool cpu_runs_avx2() { return false; }

bool cpu_runs_avx512() { return false; }
#endif

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
