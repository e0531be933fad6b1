#include "bitmap/bitmap_input.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap/pixel_rows.h"
#include "system/alloc_large_block.h"
#include "system/messages.h"
#include "system/status.h"

namespace {

// A stream starts with this much room and doubles it.
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
    const std::size_t wanted = transfer_part(room - used);
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

}  // namespace

int open_bitmap_input(const char* path, bitmap_input* input) {
  *input = bitmap_input{};
  input->path = path;
  std::FILE* file = open_for_reading(path);
  if (file == nullptr) {
    print_name_message(message_id::open_error, path);
    return status::open_error;
  }
  input->identity = inspect_open_file(file);
  // Pipes and sockets have no size to ask for: their bytes are known only
  // once they have been read.
  std::int64_t file_size = 0;
  bool is_pipe = false;
  if (!query_file_size(file, &file_size, &is_pipe)) {
    std::fclose(file);
    print_name_message(message_id::stat_error, path);
    return status::stat_error;
  }
  if (is_pipe) {
    std::int64_t held = 0;
    const int result = read_stream(file, path, &input->block, &held);
    std::fclose(file);
    input->size = static_cast<std::uint64_t>(held);
    return result;
  }
  input->file = file;
  if (file_size <= bitmap_header_bytes) {
    close_bitmap_input(input);
    return report_too_small(path, file_size);
  }
  input->size = static_cast<std::uint64_t>(file_size);
  return status::ok;
}

bool read_input_bytes(const bitmap_input& input, std::uint64_t offset, std::uint64_t count,
                      std::uint8_t* buffer, const std::uint8_t** bytes) {
  if (offset > input.size || count > input.size - offset || count > SIZE_MAX) {
    return false;
  }
  if (input.block != nullptr) {
    *bytes = input.block + offset;
    return true;
  }
  *bytes = buffer;
  return read_at(input.file, offset, buffer, static_cast<std::size_t>(count));
}

int hold_input_in_memory(bitmap_input* input) {
  if (input->block != nullptr) {
    return status::ok;
  }
  if (input->size > largest_block) {
    return report_no_memory();
  }
  const auto bytes = static_cast<std::size_t>(input->size);
  std::uint8_t* data = alloc_large_block(bytes, false);
  if (data == nullptr) {
    return report_no_memory();
  }
  if (!read_at(input->file, 0, data, bytes)) {
    std::free(data);
    return report_read_error(input->path);
  }
  input->block = data;
  std::fclose(input->file);
  input->file = nullptr;
  return status::ok;
}

void close_bitmap_input(bitmap_input* input) {
  if (input->file != nullptr) {
    std::fclose(input->file);
    input->file = nullptr;
  }
  std::free(input->block);
  input->block = nullptr;
}

int load_bitmap_file(const char* path, std::uint8_t** block, std::int64_t* size) {
  *block = nullptr;
  *size = 0;
  bitmap_input input;
  int result = open_bitmap_input(path, &input);
  if (result == status::ok) {
    result = hold_input_in_memory(&input);
  }
  if (result == status::ok) {
    *block = input.block;
    *size = static_cast<std::int64_t>(input.size);
    input.block = nullptr;
  }
  close_bitmap_input(&input);
  return result;
}
