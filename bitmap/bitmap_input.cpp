#include "bitmap/bitmap_input.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap/check_bitmap_header.h"
#include "bitmap/image_bytes.h"
#include "bitmap/pixel_rows.h"
#include "system/alloc_large_block.h"
#include "system/messages.h"
#include "system/status.h"

namespace {

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

// Moves the used bytes of *data into a block twice as large, or limit
// bytes where that is less; false, with *data unchanged, when no larger
// block can be had.
bool grow_block(std::uint8_t** data, std::size_t used, std::size_t* capacity, std::uint64_t limit) {
  if (*capacity > max_block_bytes / 2) {
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

// Reads into data[*used] on until *used is want (growing the block as
// needed, never past want) or the stream ends. False when no memory is
// left to grow; a read error shows in ferror.
bool read_held(std::FILE* file, std::uint8_t** data, std::size_t* capacity, std::size_t* used,
               std::uint64_t want) {
  while (*used < want) {
    if (*used == *capacity && !grow_block(data, *used, capacity, want)) {
      return false;
    }
    const std::uint64_t room = want < *capacity ? want : *capacity;
    const std::size_t wanted = transfer_part(static_cast<std::size_t>(room) - *used);
    const std::size_t got = std::fread(*data + *used, 1, wanted, file);
    *used += got;
    if (got < wanted) {
      break;  // the end of the stream, or an error
    }
  }
  return true;
}

// Reads and drops the bytes of a stream from *counted up to want, counting
// them, so that its length is known as far as the header check asks
// without their being held.
void count_rest(std::FILE* file, std::uint64_t* counted, std::uint64_t want) {
  std::uint8_t scratch[std::size_t{16} << 10];
  while (*counted < want) {
    const std::uint64_t left = want - *counted;
    const std::size_t wanted =
        left < sizeof scratch ? static_cast<std::size_t>(left) : sizeof scratch;
    const std::size_t got = std::fread(scratch, 1, wanted, file);
    *counted += got;
    if (got < wanted) {
      return;
    }
  }
}

// Reads the first bytes of a stream, the header and any palette, into a
// block of their own; the rest is read as it is asked for.
int open_stream(std::FILE* file, const char* path, bitmap_input* input) {
  std::size_t capacity = static_cast<std::size_t>(stream_head_bytes);
  std::uint8_t* data = alloc_large_block(capacity, false);
  if (data == nullptr) {
    return report_no_memory();
  }
  std::size_t used = 0;
  read_held(file, &data, &capacity, &used, stream_head_bytes);
  int result = status::ok;
  if (std::ferror(file) != 0) {
    result = report_read_error(path);
  } else if (used <= bitmap_header_bytes) {
    result = report_too_small(path, static_cast<std::int64_t>(used));
  }
  if (result != status::ok) {
    std::free(data);
    return result;
  }
  input->file = file;
  input->stream = true;
  input->block = data;
  input->held = used;
  input->size = used;
  input->position = used;
  input->ended = used < stream_head_bytes;
  return status::ok;
}

// Reads count bytes of a stream at offset into buffer: those still in the
// held head copied, the rest read at or after its position. False when the
// stream ends first (or fails), or they lie before its position.
bool read_stream_at(const bitmap_input& input, std::uint64_t offset, std::uint64_t count,
                    std::uint8_t* buffer) {
  std::size_t got = 0;
  if (offset < input.held) {
    got = static_cast<std::size_t>(input.held - offset);
    std::memcpy(buffer, input.block + offset, got);
    offset = input.held;
  }
  if (offset < input.position || input.ended) {
    return false;
  }
  std::uint64_t skipped = input.position;
  count_rest(input.file, &skipped, offset);
  input.position = skipped;
  while (skipped == offset && got < count) {
    const std::size_t part = std::fread(
        buffer + got, 1, transfer_part(static_cast<std::size_t>(count) - got), input.file);
    got += part;
    input.position += part;
    if (part == 0) {
      break;
    }
  }
  input.ended = got < count;
  return !input.ended;
}

// The whole-image form of a stream: held as far as unpacking reads, and
// counted, not held, up to the end the header declares.
int hold_stream(bitmap_input* input) {
  const bitmap_header header = read_bitmap_header(input->block);
  const std::uint64_t unpacked = bitmap_bytes_unpacked(header);
  std::size_t capacity = static_cast<std::size_t>(input->held);
  std::size_t used = capacity;
  if (unpacked > max_block_bytes ||
      !read_held(input->file, &input->block, &capacity, &used, unpacked)) {
    return report_no_memory();
  }
  std::uint64_t counted = used;
  if (used >= unpacked) {  // the stream goes on
    count_rest(input->file, &counted, bitmap_bytes_used(header));
  }
  if (std::ferror(input->file) != 0) {
    return report_read_error(input->path);
  }
  input->held = used;
  input->size = counted;
  input->stream = false;
  std::fclose(input->file);
  input->file = nullptr;
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
  // Pipes and sockets have no size to ask for: their bytes are known only
  // once they have been read.
  std::int64_t file_size = 0;
  bool is_pipe = false;
  if (!query_file_size(file, &file_size, &is_pipe, &input->identity)) {
    std::fclose(file);
    print_name_message(message_id::stat_error, path);
    return status::stat_error;
  }
  if (is_pipe) {
    const int result = open_stream(file, path, input);
    if (result != status::ok) {
      std::fclose(file);
    }
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
  if (input.stream && (offset > input.held || count > input.held - offset)) {
    *bytes = buffer;
    return count <= SIZE_MAX && read_stream_at(input, offset, count, buffer);
  }
  const std::uint64_t present = input.block != nullptr ? input.held : input.size;
  if (offset > present || count > present - offset || count > SIZE_MAX) {
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
  if (input->stream) {
    return hold_stream(input);
  }
  if (input->block != nullptr) {
    return status::ok;
  }
  if (input->size > max_block_bytes) {
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
  input->held = input->size;
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

int count_stream_end(bitmap_input* input, std::uint64_t want) {
  std::uint64_t counted = input->position;
  if (!input->ended) {
    count_rest(input->file, &counted, want);
  }
  input->position = counted;
  input->size = counted > input->held ? counted : input->held;
  return std::ferror(input->file) != 0 ? report_read_error(input->path) : status::ok;
}

int report_read_error(const char* path) {
  print_name_message(message_id::read_error, path);
  return status::read_error;
}
