// Throughput of the per-pixel stages of a run, in megapixels per second:
// unpacking at each depth, both conversions (as the programs call them and
// through each kernel the processor can run) and the plane writing.
//
//   kernel_benchmarks [--benchmark_filter=REGEX]
//
// The plane benchmark writes its files into a fresh directory under
// /dev/shm (or the current directory where there is none).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitmap/unpack_bitmap_pixels.h"
#include "bitmap/write_bitmap32.h"
#include "convert/channel_planes.h"
#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"
#include "convert/pixel_kernels.h"

namespace {

constexpr std::int64_t width = 3000;
constexpr std::int64_t rows = 2000;
constexpr std::int64_t pixels = width * rows;

using bytes = std::vector<std::uint8_t>;

// Smooth gradients with a little noise, like a photograph.
bytes photo_like_working_image() {
  bytes image(static_cast<std::size_t>(pixels) * 4);
  std::uint32_t noise = 12345;
  for (std::int64_t y = 0; y < rows; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int grain = static_cast<int>(noise >> 29) - 4;
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / rows;
      const int bgr[3] = {static_cast<int>(230 * (0.5 + 0.5 * std::sin(6 * u + 2 * v))),
                          static_cast<int>(120 + 90 * std::sin(3 * u) * (1 - v)),
                          static_cast<int>(200 * v + 40)};
      std::uint8_t* p = &image[static_cast<std::size_t>(y * width + x) * 4];
      for (int c = 0; c < 3; ++c) {
        const int value = bgr[c] + grain;
        p[c] = static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
      }
      p[3] = 0;
    }
  }
  return image;
}

void put_u32(bytes& file, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// A bottom-up bitmap file of the given depth, with a full palette for 1 and
// 8 bits, whose pixel bytes are taken from the photo-like image.
bytes bitmap_file(int depth) {
  const std::uint32_t palette_bytes = depth == 8 ? 1024 : depth == 1 ? 8 : 0;
  const std::size_t row_bytes = depth == 1 ? static_cast<std::size_t>(width + 7) / 8
                                           : static_cast<std::size_t>(width * depth / 8);
  const std::size_t stride = (row_bytes + 3) & ~std::size_t{3};
  bytes file(54 + palette_bytes + stride * static_cast<std::size_t>(rows), 0);
  file[0] = 'B';
  file[1] = 'M';
  put_u32(file, 2, static_cast<std::uint32_t>(file.size()));
  put_u32(file, 10, 54 + palette_bytes);
  put_u32(file, 14, 40);
  put_u32(file, 18, static_cast<std::uint32_t>(width));
  put_u32(file, 22, static_cast<std::uint32_t>(rows));
  file[26] = 1;
  file[28] = static_cast<std::uint8_t>(depth);
  for (std::uint32_t i = 0; i < palette_bytes; ++i) {
    file[54 + i] = static_cast<std::uint8_t>(i * 7);
  }
  const bytes image = photo_like_working_image();
  for (std::size_t i = 54 + palette_bytes, k = 0; i < file.size(); ++i, k += 3) {
    file[i] = image[k % image.size()];
  }
  return file;
}

void count_pixels(benchmark::State& state) {
  state.counters["Mpx/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(pixels) / 1e6,
      benchmark::Counter::kIsRate);
}

void unpack(benchmark::State& state) {
  const bytes file = bitmap_file(static_cast<int>(state.range(0)));
  bytes image(static_cast<std::size_t>(pixels) * 4);
  for (auto _ : state) {
    unpack_bitmap_pixels(file.data(), static_cast<std::int64_t>(file.size()), image.data());
    benchmark::ClobberMemory();
  }
  count_pixels(state);
}
BENCHMARK(unpack)->ArgName("depth")->Arg(1)->Arg(8)->Arg(24)->Arg(32)->Unit(
    benchmark::kMillisecond);

template <int (*convert)(std::uint8_t*, std::uint8_t*, std::int64_t, std::int64_t)>
void conversion(benchmark::State& state) {
  bytes source = photo_like_working_image();
  bytes destination(source.size(), 0);
  for (auto _ : state) {
    convert(source.data(), destination.data(), width, rows);
    benchmark::ClobberMemory();
  }
  count_pixels(state);
}
BENCHMARK(conversion<convert_to_yuv>)->Name("convert_to_yuv")->Unit(benchmark::kMillisecond);
BENCHMARK(conversion<convert_to_hsv>)->Name("convert_to_hsv")->Unit(benchmark::kMillisecond);

void kernel(benchmark::State& state, pixel_run run) {
  const bytes source = photo_like_working_image();
  bytes destination(source.size(), 0);
  for (auto _ : state) {
    run(source.data(), destination.data(), pixels);
    benchmark::ClobberMemory();
  }
  count_pixels(state);
}

void register_kernels(const char* conversion_name, const pixel_kernel* kernels, int count) {
  for (int k = 0; k < count; ++k) {
    const std::string name = std::string(conversion_name) + "_kernel/" + kernels[k].name;
    benchmark::RegisterBenchmark(name.c_str(), kernel, kernels[k].run)
        ->Unit(benchmark::kMillisecond);
  }
}

// The three planes of a converted image, each filled and written whole.
void planes(benchmark::State& state) {
  bytes converted = photo_like_working_image();
  bytes plane(converted.size());
  for (auto _ : state) {
    for (const channel_plane& p : yuv_planes) {
      fill_plane_band(converted.data(), plane.data(), plane.size() / 4, p.byte_index);
      write_bitmap32(p.file_name, plane.data(), width, rows, output_name_kind::chosen);
    }
  }
  count_pixels(state);
}
BENCHMARK(planes)->Name("planes")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  const pixel_kernel* kernels = yuv_kernels(&count);
  register_kernels("yuv", kernels, count);
  kernels = hsv_kernels(&count);
  register_kernels("hsv", kernels, count);
  // After the options are read: --help ends the process there, and must
  // leave no scratch directory behind.
  benchmark::Initialize(&argc, argv);
  char scratch[] = "/dev/shm/kernel_benchmarks.XXXXXX";
  const bool moved = mkdtemp(scratch) != nullptr && chdir(scratch) == 0;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (moved) {
    for (int i = 0; i < channel_plane_count; ++i) {
      std::remove(yuv_planes[i].file_name);
    }
    rmdir(scratch);
  }
  return 0;
}
