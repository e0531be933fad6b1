#include "core/write_output_file.h"

#include <cstdio>

#include "core/messages.h"
#include "core/status.h"
#include "core/temporary_file.h"

namespace {

int report(message_id id, const char* path) {
  print_name_message(id, path);
  return status::write_failed;
}

// Writes count bytes in parts of at most largest_stdio_transfer bytes; false
// when any part is not written whole.
bool write_all(std::FILE* file, const std::uint8_t* bytes, std::uint64_t count) {
  if (count > SIZE_MAX) {
    return false;
  }
  const auto total = static_cast<std::size_t>(count);
  for (std::size_t done = 0; done < total;) {
    const std::size_t left = total - done;
    const std::size_t part = left < largest_stdio_transfer ? left : largest_stdio_transfer;
    if (std::fwrite(bytes + done, part, 1, file) != 1) {
      return false;
    }
    done += part;
  }
  return true;
}

// The file the bytes go to: a new temporary file beside the name or, where
// the directory takes no new file, the old file itself.
std::FILE* open_file_at(output_file* out) {
  output_place& place = out->place;
  // A file that keeps an old one's attributes is private until it has them.
  std::FILE* file = create_temporary_file(place, place.keep_attributes, &out->slot);
  if (file == nullptr) {
    return place.replaces_file && creation_was_refused() ? open_in_place(place) : nullptr;
  }
  if (place.keep_attributes && !copy_file_attributes(file, place)) {
    out->failed = true;
  }
  return file;
}

}  // namespace

int open_output_file(const char* path, output_name_kind kind, output_file* out) {
  out->path = path;
  out->slot = -1;
  out->failed = false;
  find_output_place(path, kind == output_name_kind::typed, &out->place);
  out->file = out->place.refused             ? nullptr
              : out->place.stream != nullptr ? out->place.stream
                                             : open_file_at(out);
  if (out->file == nullptr) {
    release_output_place(&out->place);
    return report(message_id::cannot_create, path);
  }
  return status::ok;
}

void write_output_bytes(output_file* out, const std::uint8_t* bytes, std::uint64_t count) {
  if (!out->failed && !write_all(out->file, bytes, count)) {
    out->failed = true;
  }
}

int close_output_file(output_file* out) {
  bool whole = !out->failed && std::fflush(out->file) == 0 && std::ferror(out->file) == 0;
  // Only an existing file's content is at stake if the rename reaches the
  // disk before the data it names.
  if (whole && out->slot >= 0 && out->place.replaces_file) {
    whole = sync_to_storage(out->file);
  }
  const bool closed = std::fclose(out->file) == 0;
  out->file = nullptr;
  bool placed = whole && closed;
  if (out->slot >= 0) {
    if (placed) {
      placed = commit_temporary_file(out->slot, out->place);
    } else {
      discard_temporary_file(out->slot);
    }
  }
  release_output_place(&out->place);
  return placed ? status::ok : report(message_id::write_error, out->path);
}

int write_output_file(const char* path, const output_piece* pieces, int piece_count,
                      output_name_kind kind) {
  output_file out;
  if (open_output_file(path, kind, &out) != status::ok) {
    return status::write_failed;
  }
  for (int i = 0; i < piece_count; ++i) {
    write_output_bytes(&out, pieces[i].bytes, pieces[i].count);
  }
  return close_output_file(&out);
}
