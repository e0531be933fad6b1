// The input bitmap of a run. A file whose size the system knows stays open
// and is read in pieces at their offsets, so that no more of it is held
// than a piece; a pipe, FIFO or socket, which can be read only once and
// forwards, is judged by its header first (a header refused at any length
// ends the read there), then held in memory only as far as the unpacker
// reads (bitmap_bytes_unpacked) and counted, not held, up to the end the
// header declares (bitmap_bytes_used): the rest is left unread, and neither
// an endless stream nor a header that claims gigabytes can exhaust memory.
#pragma once

#include <cstdint>
#include <cstdio>

#include "bitmap/bitmap_header.h"
#include "system/file_system.h"

struct bitmap_input {
  const char* path = nullptr;
  std::FILE* file = nullptr;      // open while pieces are read from it
  std::uint8_t* block = nullptr;  // the bytes held in memory, if any
  std::uint64_t size = 0;         // the bytes of the file, as far as they were counted
  std::uint64_t held = 0;         // the bytes of block
  name_info identity;             // which file it is
};

// Opens path and, for a stream, reads it into memory. On any failure the
// input holds nothing, the message of the same name is printed here, and
// the status is status::open_error, stat_error, file_too_small (54 bytes or
// fewer), load_no_memory or read_error; for a stream whose header the rules
// refuse at any length, that refusal's status (refused_at_any_length).
int open_bitmap_input(const char* path, bitmap_input* input);

// The count bytes at offset: read into buffer (count bytes long), or where
// the input is held in memory, found there; *bytes points at them. False
// when they are not all there (the file shrank, or could not be read).
bool read_input_bytes(const bitmap_input& input, std::uint64_t offset, std::uint64_t count,
                      std::uint8_t* buffer, const std::uint8_t** bytes);

// Reads the whole of an open file into memory and closes it, for a run
// that must have it all before it writes (the file itself is being written
// over). Returns 0, or status::load_no_memory or read_error after printing
// its message.
int hold_input_in_memory(bitmap_input* input);

// Prints the read error of the input at path; returns status::read_error.
int report_read_error(const char* path);

// Closes the file and frees what the input holds.
void close_bitmap_input(bitmap_input* input);

// The whole-image form, which the tests, the fuzzers and the benchmarks use;
// the programs stream bands and never call it.
// Reads the whole file at path into one block from alloc_large_block, with
// open_bitmap_input and hold_input_in_memory and their statuses; on status
// 0 the caller frees the block with std::free.
int load_bitmap_file(const char* path, std::uint8_t** block, std::int64_t* size);
