#include "tests/support/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

std::string make_temp_dir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random(static_cast<std::uint64_t>(seed()) << 32 | seed());
  // create_directory is false when the name exists already: another one is
  // drawn, so that no two tests share a directory.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = base / ("converter-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) {
      return dir.generic_string();
    }
    if (error) {
      return std::string();
    }
  }
  return std::string();
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

scoped_work_dir enter_temp_dir() {
  scoped_work_dir dir{std::filesystem::current_path().string(), make_temp_dir()};
  std::filesystem::current_path(dir.path);
  return dir;
}

void leave_temp_dir(const scoped_work_dir& dir) {
  std::filesystem::current_path(dir.previous);
  remove_tree(dir.path);
}
