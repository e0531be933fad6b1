// Writes an output file so that no failure or interruption can destroy
// what stood at its name: the bytes go to a new temporary file beside it
// (temporary_files.h), which is synced (when an older file is at stake),
// closed and only then renamed over the name. What happens at a name is
// decided by the rules of output_rules.h (see find_output_place).
//
// The life of one output_file:
//
//   open_output_file --> decided --+--> refused ------------------------+
//                                  |     (cannot create)                |
//                                  +--> streaming (a descriptor, a      |
//                                  |     device, a FIFO: file set,      |
//                                  |     slot -1) ----------+           |
//                                  +--> temporary open      |           |
//                                  |     (slot >= 0, armed  |           |
//                                  |     for the interrupt  |           |
//                                  |     cleanup) ---+      |           |
//                                  +--> in place,    |      |           |
//                                        cut pending |      |           |
//                                        (cut at the |      |           |
//                                        first byte) |      |           |
//                                              |     |      |           |
//                    close_output_file:        v     v      v           |
//                          whole --> placed (renamed or flushed)        |
//                          else  --> failed (temporary removed) <-------+
//   abandon_output_file, from any open state --> abandoned (temporary
//                          removed, nothing reported)
//
// The interrupt cleanup relies on one thing only: a slot is armed exactly
// while its temporary file exists under the name recorded for it.
#pragma once

#include <atomic>
#include <cstdint>

#include "system/file_system.h"
#include "system/messages.h"

// One output file while it is written.
struct output_file {
  const char* path = nullptr;  // as given, for the messages
  output_place place;
  std::FILE* file = nullptr;  // the temporary file, or what is written directly
  int slot = -1;              // the temporary file's slot; -1 when written directly
  // Where the bytes of a file written directly wait, when it must get
  // nothing until the input is known whole (spool_output_file).
  std::FILE* spool = nullptr;
  // It could not be opened, or something did not arrive whole: its one
  // failure state, which the threads that write it share.
  std::atomic<bool> failed{false};
  message_id failure = message_id::write_error;  // what to say when failed
};

// Opens path for writing as the rules decide. Returns 0, or
// status::write_failed when the rules refuse the name or the file cannot be
// opened: report_output_failure then prints message_id::cannot_create, and
// the name keeps what it held.
int open_output_file(const char* path, const output_request& request, output_file* out);

// For an output written directly (a stream, a descriptor, a file written in
// place) that must get nothing before the input is known whole: its bytes
// go to an unnamed file beside it or in the temporary directory
// (create_unnamed_file), written at offsets, and are copied to it when it
// is closed. An output that refuses every write fails here at once. False,
// with the failure remembered, when no such file can be made.
bool spool_output_file(output_file* out);

// Appends count bytes; a failure is remembered for close_output_file.
void write_output_bytes(output_file* out, const std::uint8_t* bytes, std::uint64_t count);

// Pushes out what write_output_bytes has buffered; a failure is remembered.
void flush_output_bytes(output_file* out);

// True when bands may be written at their offsets with write_output_at
// (a temporary file, a file written in place or a redirected file), from
// several threads at once; otherwise the bytes must come in order through
// write_output_bytes (a pipe, a device, a file opened for appending).
bool writes_at_offsets(const output_file& out);

// Writes count bytes at offset of an output that writes at offsets, after
// what write_output_bytes wrote there has been flushed. Changes nothing of
// out, so several threads may call it at once; false when not all of the
// bytes were written (the caller remembers the failure).
bool write_output_at(const output_file& out, std::uint64_t offset, const std::uint8_t* bytes,
                     std::uint64_t count);

// Completes the file and puts it in place. Returns 0, or
// status::write_failed when it was not opened or a write, flush, sync,
// close or rename failed: report_output_failure then prints
// message_id::write_error (or why it was not opened), and the name keeps
// what it held.
int close_output_file(output_file* out);

// Gives up an open file: a temporary file is removed, one written directly
// is closed. Nothing is reported.
void abandon_output_file(output_file* out);

// Prints the message of a file that failed; nothing for one that did not.
void report_output_failure(const output_file& out);

// True when the file is written directly (not through a temporary file)
// and is the file identified by file.
bool writes_directly_over(const output_file& out, const name_info& file);

// The whole-image form, which the tests, the fuzzers and the benchmarks use;
// the programs stream bands and never call it.
// A run of bytes to write; the pieces of a file are written in order.
struct output_piece {
  const std::uint8_t* bytes;
  std::uint64_t count;
};

// Opens, writes the pieces, closes and reports: 0 or status::write_failed,
// with the messages above.
int write_output_file(const char* path, const output_piece* pieces, int piece_count,
                      output_name_kind kind);
