#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace {

std::filesystem::path workdir;

void remove_workdir() {
  std::error_code ignored;
  std::filesystem::current_path(workdir.parent_path(), ignored);
  std::filesystem::remove_all(workdir, ignored);
}

const char* const run_outputs[] = {"in.bmp",        "out.bmp",       "bmp_yuv_v.bmp",
                                   "bmp_yuv_u.bmp", "bmp_yuv_y.bmp", "bmp_hsv_h.bmp",
                                   "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"};

}  // namespace

void enter_fuzz_workdir() {
  std::error_code error;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, error)) {
    base = std::filesystem::temp_directory_path();
  }
  std::random_device seed;
  for (int attempt = 0; attempt < 100 && workdir.empty(); ++attempt) {
    const std::filesystem::path dir = base / ("converter-fuzz-" + std::to_string(seed()));
    if (std::filesystem::create_directory(dir, error)) {
      workdir = dir;
    }
  }
  require(!workdir.empty(), "cannot create a working directory");
  std::filesystem::current_path(workdir, error);
  require(!error, "cannot enter the working directory");
  std::atexit(remove_workdir);
}

void require(bool holds, const char* message) {
  if (!holds) {
    std::fprintf(stderr, "fuzz target: %s\n", message);
    std::abort();
  }
}

std::int64_t file_size_or_minus_one(const char* path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

void remove_run_outputs() {
  for (const char* name : run_outputs) {
    std::remove(name);
  }
}
