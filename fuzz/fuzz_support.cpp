#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char workdir[64];

void remove_workdir() {
  DIR* dir = opendir(workdir);
  if (dir != nullptr) {
    while (const dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        const std::string path = std::string(workdir) + "/" + entry->d_name;
        std::remove(path.c_str());
      }
    }
    closedir(dir);
  }
  rmdir(workdir);
}

const char* const run_outputs[] = {"in.bmp",        "out.bmp",       "bmp_yuv_v.bmp",
                                   "bmp_yuv_u.bmp", "bmp_yuv_y.bmp", "bmp_hsv_h.bmp",
                                   "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"};

}  // namespace

void enter_fuzz_workdir() {
  struct stat info {};
  const char* base = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
  std::snprintf(workdir, sizeof workdir, "%s/converter-fuzz-XXXXXX", base);
  require(mkdtemp(workdir) != nullptr, "cannot create a working directory");
  require(chdir(workdir) == 0, "cannot enter the working directory");
  std::atexit(remove_workdir);
}

void require(bool holds, const char* message) {
  if (!holds) {
    std::fprintf(stderr, "fuzz target: %s\n", message);
    std::abort();
  }
}

std::int64_t file_size_or_minus_one(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

void remove_run_outputs() {
  for (const char* name : run_outputs) {
    std::remove(name);
  }
}
