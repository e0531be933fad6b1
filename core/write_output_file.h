// Writes an output file so that no failure or interruption can destroy
// what stood at its name: the bytes go to a new temporary file beside it,
// which is synced (when an older file is at stake), closed and only then
// renamed over the name. A symbolic or hard link at the name is replaced,
// never written through. The old file's permission bits are kept when it
// belongs to the user; anything else gets a new file's permissions.
#pragma once

#include <cstdint>

// Where an output name came from, which decides what may stand at it.
enum class output_name_kind {
  // Typed by the user: an existing character device, FIFO or socket at the
  // name (directly or through a link), such as /dev/stdout, is written as a
  // stream.
  typed,
  // Chosen by the program (a plane file, the default name): always replaced
  // by a regular file, whatever stands there.
  chosen,
};

// A run of bytes to write; the pieces of a file are written in order.
struct output_piece {
  const std::uint8_t* bytes;
  std::uint64_t count;
};

// Writes the pieces to path. Returns 0, or -1 after printing
// "File '%s' cannot create." (a directory stands at the name, or no file can
// be created there) or "File '%s' write error." (a write, flush, sync, close
// or rename failed); on either, path holds what it held before. Where the
// directory refuses new files but an existing regular file at path may be
// written, that file is written in place, as the only way left.
int write_output_file(const char* path, const output_piece* pieces, int piece_count,
                      output_name_kind kind);
