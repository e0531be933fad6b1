#include "tests/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

std::string make_temp_dir() {
  const std::string base = std::filesystem::temp_directory_path().string();
  std::string pattern = base + "/converter-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    return std::string();
  }
  return std::string(buffer.data());
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
