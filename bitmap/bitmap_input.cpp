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

// A stream starts with this much room and doubles it.
constexpr std::size_t first_stream_block = std::size_t{64} << 10;

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

// Reads a stream of unknown length, judged by its header before anything
// past it is held: a header the rules refuse at any length ends the read at
// once with that status; otherwise the bytes the unpacker reads are held
// and those up to the end the header declares are counted, so that neither
// an endless stream nor a header claiming gigabytes is stored.
int read_stream(std::FILE* file, const char* path, bitmap_input* input) {
  std::size_t capacity = first_stream_block;
  std::uint8_t* data = alloc_large_block(capacity, false);
  if (data == nullptr) {
    return report_no_memory();
  }
  std::size_t used = 0;
  constexpr std::uint64_t least = bitmap_header_bytes + 1;
  int result = status::ok;
  if (!read_held(file, &data, &capacity, &used, least) || std::ferror(file) != 0) {
    result = std::ferror(file) != 0 ? report_read_error(path) : report_no_memory();
  } else if (used < least) {
    result = report_too_small(path, static_cast<std::int64_t>(used));
  }
  bitmap_header header{};
  if (result == status::ok) {
    header = read_bitmap_header(data);
    int refusal = status::ok;
    result = refused_at_any_length(header, &refusal) ? refusal : status::ok;
  }
  std::uint64_t counted = used;
  if (result == status::ok) {
    const std::uint64_t unpacked = bitmap_bytes_unpacked(header);
    const std::uint64_t held = unpacked > least ? unpacked : least;
    if (held > max_block_bytes || !read_held(file, &data, &capacity, &used, held)) {
      result = report_no_memory();
    } else {
      counted = used;
      if (used == held) {  // the stream goes on
        count_rest(file, &counted, bitmap_bytes_used(header));
      }
    }
  }
  if (result == status::ok && std::ferror(file) != 0) {
    result = report_read_error(path);
  }
  if (result != status::ok) {
    std::free(data);
    return result;
  }
  input->block = data;
  input->held = used;
  input->size = counted;
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
    const int result = read_stream(file, path, input);
    std::fclose(file);
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

int report_read_error(const char* path) {
  print_name_message(message_id::read_error, path);
  return status::read_error;
}
