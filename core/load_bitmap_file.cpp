#include "core/load_bitmap_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "core/alloc_large_block.h"
#include "core/bitmap_header.h"
#include "core/status.h"

namespace {

// Reads size bytes in one item; anything short of that is a failure.
int read_whole_file(std::FILE* file, const char* path, std::int64_t size, std::uint8_t** block) {
  if (static_cast<std::uint64_t>(size) > SIZE_MAX) {
    std::fputs("Couldn't allocate memory.\n", stderr);
    return status::load_no_memory;
  }
  const auto bytes = static_cast<std::size_t>(size);
  std::uint8_t* data = alloc_large_block(bytes, false);
  if (data == nullptr) {
    std::fputs("Couldn't allocate memory.\n", stderr);
    return status::load_no_memory;
  }
  if (std::fread(data, bytes, 1, file) != 1) {
    std::free(data);
    std::fprintf(stderr, "'%s' read error.\n", path);
    return status::read_error;
  }
  *block = data;
  return status::ok;
}

}  // namespace

int load_bitmap_file(const char* path, std::uint8_t** block, std::int64_t* size) {
  *block = nullptr;
  *size = 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "'%s' open error.\n", path);
    return status::open_error;
  }
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) {
    std::fclose(file);
    std::fprintf(stderr, "'%s' stat error.\n", path);
    return status::stat_error;
  }
  const std::int64_t file_size = info.st_size;
  if (file_size <= bitmap_header_bytes) {
    std::fclose(file);
    std::fprintf(stderr, "'%s' file size erro. too small(%d Byte)\n", path,
                 static_cast<int>(file_size));
    return status::file_too_small;
  }
  const int result = read_whole_file(file, path, file_size, block);
  std::fclose(file);
  if (result == status::ok) {
    *size = file_size;
  }
  return result;
}
