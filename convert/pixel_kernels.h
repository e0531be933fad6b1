// Interchangeable implementations of one per-pixel conversion, chosen by
// what the processor can run. Every kernel of a table gives the same bytes
// for every input; they differ only in speed.
#pragma once

#include <cstdint>

// Converts count 4-byte pixels from in to out: bytes 0 to 2 of every out
// pixel are written, byte 3 keeps its value.
using pixel_run = void (*)(const std::uint8_t* in, std::uint8_t* out, std::int64_t count);

// run converts 4-byte pixels; packed the same from 3-byte ones (blue,
// green, red as 24-bit rows store them), into the same 4-byte out pixels.
struct pixel_kernel {
  const char* name;
  pixel_run run;
  pixel_run packed;
};

// A kernel and whether this processor can run it.
struct kernel_candidate {
  pixel_kernel kernel;
  bool (*runs_here)();
};

// The kernels of one conversion that this processor can run, in order.
constexpr int most_kernels = 4;
struct kernel_table {
  pixel_kernel kernels[most_kernels];
  int count;
};

// The candidates (at most most_kernels) that this processor can run, in
// their order.
kernel_table select_usable_kernels(const kernel_candidate* candidates, int count);

// For candidates that run everywhere.
bool runs_everywhere();

// The luma and colour-difference kernels this processor can run, fastest
// first; the last two are plain C++ (the last one converts pixel by pixel
// without estimates). *count gets the number of entries.
const pixel_kernel* yuv_kernels(int* count);

// The same for hue, saturation and value.
const pixel_kernel* hsv_kernels(int* count);

// True when the processor and the operating system run 256-bit integer
// and floating-point vector instructions.
bool cpu_runs_avx2();

// The same for 512-bit ones, with byte and 16-bit lanes.
bool cpu_runs_avx512();
