#include "core/load_bitmap_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/alloc_large_block.h"
#include "core/bitmap_header.h"
#include "core/file_system.h"
#include "core/messages.h"
#include "core/pixel_rows.h"
#include "core/status.h"

namespace {

// A stream read to its end starts with this much room and doubles it.
constexpr std::size_t first_stream_block = std::size_t{64} << 10;

// The largest block whose byte count is still a std::int64_t and a size_t.
constexpr std::uint64_t largest_block =
    SIZE_MAX < INT64_MAX ? std::uint64_t{SIZE_MAX} : std::uint64_t{INT64_MAX};

int report_too_small(const char* path, std::int64_t bytes) {
  message_values values;
  values.name = path;
  values.first = bytes;
  print_message(message_id::file_too_small, values);
  return status::file_too_small;
}

int report_no_memory() {
  print_message(message_id::load_no_memory);
  return status::load_no_memory;
}

int report_read_error(const char* path) {
  print_name_message(message_id::read_error, path);
  return status::read_error;
}

// Reads bytes bytes into data, in parts of at most largest_stdio_transfer;
// false when any part arrives short.
bool read_exactly(std::FILE* file, std::uint8_t* data, std::size_t bytes) {
  for (std::size_t done = 0; done < bytes;) {
    const std::size_t left = bytes - done;
    const std::size_t part = left < largest_stdio_transfer ? left : largest_stdio_transfer;
    if (std::fread(data + done, part, 1, file) != 1) {
      return false;
    }
    done += part;
  }
  return true;
}

// Reads size bytes whole; anything short of that is a failure.
int read_whole_file(std::FILE* file, const char* path, std::int64_t size, std::uint8_t** block) {
  if (static_cast<std::uint64_t>(size) > SIZE_MAX) {
    return report_no_memory();
  }
  const auto bytes = static_cast<std::size_t>(size);
  std::uint8_t* data = alloc_large_block(bytes, false);
  if (data == nullptr) {
    return report_no_memory();
  }
  if (!read_exactly(file, data, bytes)) {
    std::free(data);
    return report_read_error(path);
  }
  *block = data;
  return status::ok;
}

// Moves the used bytes of *data into a block twice as large, or limit
// bytes where that is less; false, with *data unchanged, when no larger
// block can be had.
bool grow_block(std::uint8_t** data, std::size_t used, std::size_t* capacity, std::uint64_t limit) {
  if (*capacity > largest_block / 2) {
    return false;
  }
  const std::size_t larger =
      limit < *capacity * 2 ? static_cast<std::size_t>(limit) : *capacity * 2;
  std::uint8_t* bigger = alloc_large_block(larger, false);
  if (bigger == nullptr) {
    return false;
  }
  std::memcpy(bigger, *data, used);
  std::free(*data);
  *data = bigger;
  *capacity = larger;
  return true;
}

// The bytes of a stream worth keeping once its header has come: what the
// header check and the unpacker can look at, and no more than one byte
// past the header (the least a bitmap holds) when the header already says
// it is no bitmap.
std::uint64_t stream_bytes_needed(const std::uint8_t* header_bytes) {
  constexpr std::uint64_t least = bitmap_header_bytes + 1;
  const bitmap_header h = read_bitmap_header(header_bytes);
  if (h.bf_type != bitmap_magic || h.bf_reserved1 != 0 || h.bf_reserved2 != 0) {
    return least;
  }
  const std::uint64_t used = bitmap_bytes_used(h);
  return used > least ? used : least;
}

// Reads a stream of unknown length until it ends or has given all the
// bytes that matter (the header's first, then what it says the picture
// needs), so that an endless stream is not stored. The block handed out
// may be larger than *size.
int read_stream(std::FILE* file, const char* path, std::uint8_t** block, std::int64_t* size) {
  std::size_t capacity = first_stream_block;
  std::uint8_t* data = alloc_large_block(capacity, false);
  if (data == nullptr) {
    return report_no_memory();
  }
  std::size_t used = 0;
  std::uint64_t needed = bitmap_header_bytes + 1;
  bool header_read = false;
  for (;;) {
    if (used == needed) {
      if (header_read) {
        break;
      }
      header_read = true;
      needed = stream_bytes_needed(data);
      continue;
    }
    if (used == capacity && !grow_block(&data, used, &capacity, needed)) {
      std::free(data);
      return report_no_memory();
    }
    const std::size_t room = needed < capacity ? static_cast<std::size_t>(needed) : capacity;
    const std::size_t wanted = room - used;
    const std::size_t got = std::fread(data + used, 1, wanted, file);
    used += got;
    if (got < wanted) {
      break;  // the end of the stream, or an error
    }
  }
  if (std::ferror(file) != 0) {
    std::free(data);
    return report_read_error(path);
  }
  const auto bytes = static_cast<std::int64_t>(used);
  if (bytes <= bitmap_header_bytes) {
    std::free(data);
    return report_too_small(path, bytes);
  }
  *block = data;
  *size = bytes;
  return status::ok;
}

// Reads a file whose size the system knows in one read of that size.
int read_sized_file(std::FILE* file, const char* path, std::int64_t file_size, std::uint8_t** block,
                    std::int64_t* size) {
  if (file_size <= bitmap_header_bytes) {
    return report_too_small(path, file_size);
  }
  const int result = read_whole_file(file, path, file_size, block);
  if (result == status::ok) {
    *size = file_size;
  }
  return result;
}

// The file the last load opened, so that no output the program names itself
// replaces it.
name_info loaded_file;

bool is_same_file(const name_info& a, const name_info& b) {
  const bool identified = a.device != 0 || a.inode != 0;
  return a.exists && b.exists && identified && a.device == b.device && a.inode == b.inode;
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
  std::FILE* file = open_for_reading(path);
  if (file == nullptr) {
    print_name_message(message_id::open_error, path);
    return status::open_error;
  }
  loaded_file = inspect_open_file(file);
  // Pipes and sockets have no size to ask for: their bytes are known only
  // once they have been read to the end.
  std::int64_t file_size = 0;
  bool is_pipe = false;
  if (!query_file_size(file, &file_size, &is_pipe)) {
    std::fclose(file);
    print_name_message(message_id::stat_error, path);
    return status::stat_error;
  }
  const int result = is_pipe ? read_stream(file, path, block, size)
                             : read_sized_file(file, path, file_size, block, size);
  std::fclose(file);
  return result;
}
