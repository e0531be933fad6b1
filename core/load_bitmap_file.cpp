#include "core/load_bitmap_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "core/alloc_large_block.h"
#include "core/bitmap_header.h"
#include "core/file_system.h"
#include "core/messages.h"
#include "core/status.h"

namespace {

// Reads size bytes in one item; anything short of that is a failure.
int read_whole_file(std::FILE* file, const char* path, std::int64_t size,
                    std::uint8_t** block) {
  if (static_cast<std::uint64_t>(size) > SIZE_MAX) {
    print_message(message_id::load_no_memory);
    return status::load_no_memory;
  }
  const auto bytes = static_cast<std::size_t>(size);
  std::uint8_t* data = alloc_large_block(bytes, false);
  if (data == nullptr) {
    print_message(message_id::load_no_memory);
    return status::load_no_memory;
  }
  if (std::fread(data, bytes, 1, file) != 1) {
    std::free(data);
    print_name_message(message_id::read_error, path);
    return status::read_error;
  }
  *block = data;
  return status::ok;
}

// The file the last load opened, so that no output the program names itself
// replaces it.
name_info loaded_file;

bool is_same_file(const name_info& a, const name_info& b) {
  return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

}  // namespace

bool names_loaded_file(const char* path) {
  if (!loaded_file.exists) {
    return false;
  }
  // By the name itself or through a link: either way the name leads there.
  return is_same_file(inspect_name(path, false), loaded_file) ||
         is_same_file(inspect_name(path, true), loaded_file);
}

int load_bitmap_file(const char* path, std::uint8_t** block, std::int64_t* size) {
  *block = nullptr;
  *size = 0;
  loaded_file = name_info{};
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    print_name_message(message_id::open_error, path);
    return status::open_error;
  }
  loaded_file = inspect_open_file(file);
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) {
    std::fclose(file);
    print_name_message(message_id::stat_error, path);
    return status::stat_error;
  }
  const std::int64_t file_size = info.st_size;
  if (file_size <= bitmap_header_bytes) {
    std::fclose(file);
    message_values values;
    values.name = path;
    values.first = file_size;
    print_message(message_id::file_too_small, values);
    return status::file_too_small;
  }
  const int result = read_whole_file(file, path, file_size, block);
  std::fclose(file);
  if (result == status::ok) {
    *size = file_size;
  }
  return result;
}
