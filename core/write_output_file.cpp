#include "core/write_output_file.h"

#include <cstdio>

#include "core/file_system.h"
#include "core/messages.h"
#include "core/status.h"
#include "core/temporary_file.h"

namespace {

int report(message_id id, const char* path) {
  print_name_message(id, path);
  return status::write_failed;
}

// Writes one piece in parts of at most largest_stdio_transfer bytes; false
// when any part is not written whole.
bool write_piece(std::FILE* file, const output_piece& piece) {
  if (piece.count > SIZE_MAX) {
    return false;
  }
  const auto count = static_cast<std::size_t>(piece.count);
  for (std::size_t done = 0; done < count;) {
    const std::size_t left = count - done;
    const std::size_t part = left < largest_stdio_transfer ? left : largest_stdio_transfer;
    if (std::fwrite(piece.bytes + done, part, 1, file) != 1) {
      return false;
    }
    done += part;
  }
  return true;
}

// Writes every piece and flushes; true only when all arrived whole and the
// stream reports no error.
bool write_pieces(std::FILE* file, const output_piece* pieces, int piece_count) {
  for (int i = 0; i < piece_count; ++i) {
    if (!write_piece(file, pieces[i])) {
      return false;
    }
  }
  return std::fflush(file) == 0 && std::ferror(file) == 0;
}

// A stream (or, as the last way out, an existing file written in place):
// written and closed like any file, without a temporary.
int write_directly(std::FILE* file, const char* path, const output_piece* pieces, int piece_count) {
  if (file == nullptr) {
    return report(message_id::cannot_create, path);
  }
  const bool written = write_pieces(file, pieces, piece_count);
  const bool closed = std::fclose(file) == 0;
  return written && closed ? status::ok : report(message_id::write_error, path);
}

// The temporary file gets its final permissions before it holds a byte.
bool fill_temporary_file(std::FILE* file, const name_info& old_file, const output_piece* pieces,
                         int piece_count) {
  const unsigned permissions =
      old_file.regular && old_file.owned_by_user ? old_file.permissions : new_file_permissions();
  if (!set_permissions(file, permissions) || !write_pieces(file, pieces, piece_count)) {
    return false;
  }
  // Only an existing file's content is at stake if the rename reaches the
  // disk before the data it names.
  return !old_file.regular || sync_to_storage(file);
}

}  // namespace

int write_output_file(const char* path, const output_piece* pieces, int piece_count,
                      output_name_kind kind) {
  const name_info old_file = inspect_name(path, false);
  if (path[0] == '\0' || old_file.directory) {
    return report(message_id::cannot_create, path);
  }
  if (kind == output_name_kind::typed) {
    bool is_stream = false;
    std::FILE* stream = open_stream_for_writing(path, &is_stream);
    if (is_stream) {
      return write_directly(stream, path, pieces, piece_count);
    }
  }
  std::FILE* file = create_temporary_file(path);
  if (file == nullptr) {
    if (old_file.regular && creation_was_refused()) {
      return write_directly(open_regular_file_in_place(path), path, pieces, piece_count);
    }
    return report(message_id::cannot_create, path);
  }
  const bool filled = fill_temporary_file(file, old_file, pieces, piece_count);
  const bool closed = std::fclose(file) == 0;
  if (!filled || !closed) {
    discard_temporary_file();
    return report(message_id::write_error, path);
  }
  if (!commit_temporary_file(path)) {
    return report(message_id::write_error, path);
  }
  return status::ok;
}
