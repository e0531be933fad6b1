#include "tests/support/run_program.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "tests/support/temp_dir.h"

std::string native_line_ends(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (const char c : text) {
    if (c == '\n') {
      out.push_back('\r');
    }
    out.push_back(c);
  }
  return out;
#else
  return text;
#endif
}

scratch_dir::scratch_dir() : path_(make_temp_dir()) {
  if (path_.empty()) {
    throw std::runtime_error("cannot create a temporary directory");
  }
}

scratch_dir::~scratch_dir() { remove_tree(path_); }

std::string scratch_dir::file(const std::string& name) const { return path_ + "/" + name; }

std::vector<std::string> scratch_dir::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(path_))) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
