// The input bitmap of a run. A file whose size the system knows stays open
// and is read in pieces at their offsets, so that no more of it is held
// than a piece. A pipe, FIFO or socket, which can be read only once and
// forwards, is read in order: its first bytes (the header and any palette)
// are held, and the rest is read as the bands ask for it, each where the
// one before ended; its length is known only once it has been counted to
// the end the header declares (count_stream_end), in constant memory, so
// that neither an endless stream nor a header that claims gigabytes can
// exhaust memory.
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
  // A stream, read once and in order. Its position moves on as the one
  // reader that has the turn reads a band; ended is set when it ended
  // before bytes asked for, and size then counts what it held.
  bool stream = false;
  mutable std::uint64_t position = 0;
  mutable bool ended = false;
};

// The bytes of a stream held from its start: the header and the largest
// palette a band may look up.
constexpr std::uint64_t stream_head_bytes = 54 + 4 * 256;

// Opens path and, for a stream, reads its first stream_head_bytes. On any
// failure the input holds nothing, the message of the same name is printed
// here, and the status is status::open_error, stat_error, file_too_small
// (54 bytes or fewer), load_no_memory or read_error.
int open_bitmap_input(const char* path, bitmap_input* input);

// The count bytes at offset: read into buffer (count bytes long), or where
// the input is held in memory, found there; *bytes points at them. A
// stream gives bytes only at or after its position (those between are
// read and dropped), and moves it past them. False when they are not all
// there (the file shrank or ended, or could not be read).
bool read_input_bytes(const bitmap_input& input, std::uint64_t offset, std::uint64_t count,
                      std::uint8_t* buffer, const std::uint8_t** bytes);

// Reads the whole of an open file into memory and closes it, for a run
// that must have it all before it writes (the file itself is being written
// over); a stream is held as far as unpacking reads and counted to the end
// the header declares. Returns 0, or status::load_no_memory or read_error
// after printing its message.
int hold_input_in_memory(bitmap_input* input);

// Reads and drops the rest of a stream up to want bytes from its start, or
// its end, so that size holds its length as far as the length rules ask.
// Returns 0, or read_error after printing its message.
int count_stream_end(bitmap_input* input, std::uint64_t want);

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
