// Runs a fuzz target over files instead of generated inputs, for builds
// without libFuzzer: each argument is a file or a directory of files. Any
// finding aborts, as it would under the fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool is_directory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The path itself, or the files directly inside it when it is a directory.
std::vector<std::string> inputs_at(const std::string& path) {
  if (!is_directory(path)) {
    return {path};
  }
  std::vector<std::string> files;
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string file = path + "/" + entry->d_name;
      if (entry->d_name[0] != '.' && !is_directory(file)) {
        files.push_back(file);
      }
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool read_whole(const std::string& path, std::vector<std::uint8_t>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  std::uint8_t chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  // Every input is read before the target may change the working directory.
  std::vector<std::vector<std::uint8_t>> inputs;
  for (int i = 1; i < argc; ++i) {
    for (const std::string& file : inputs_at(argv[i])) {
      std::vector<std::uint8_t> bytes;
      if (!read_whole(file, &bytes)) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      inputs.push_back(bytes);
    }
  }
  if (inputs.empty()) {
    std::fputs("no inputs to replay\n", stderr);
    return 1;
  }
  LLVMFuzzerInitialize(&argc, &argv);
  for (const std::vector<std::uint8_t>& bytes : inputs) {
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
