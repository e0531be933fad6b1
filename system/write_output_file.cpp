#include "system/write_output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/interrupt_cleanup.h"
#include "system/status.h"

namespace {

// The temporary files of a run: each created beside the file it will
// replace, renamed over that file once complete, and removed on every
// other way out, including the interrupts that end a run (see
// interrupt_cleanup.h), after which the process still ends as it would
// have.

// One temporary file: where it stands. held is set only while the name is
// complete and the file exists, and the interrupt cleanup is armed just as
// long.
struct temporary_record {
  bool held = false;
  int directory = -1;
  char name[path_buffer_bytes] = {};
};

temporary_record records[most_temporary_files];

// How many bytes of name to keep so that a long name stays within the
// usual 255-byte limit once made hidden and suffixed, cut before a UTF-8
// character rather than inside one (a sequence is at most 4 bytes long).
std::size_t shortened_name_length(const char* name, std::size_t length) {
  constexpr std::size_t longest_name = 200;
  if (length <= longest_name) {
    return length;
  }
  std::size_t kept = longest_name;
  while (kept > longest_name - 3 && (static_cast<unsigned char>(name[kept]) & 0xC0u) == 0x80u) {
    --kept;
  }
  return kept;
}

// Writes DIRECTORY/.NAME.XXXXXX into out for entry = DIRECTORY/NAME (or
// NAME alone); false when it does not fit or NAME is empty.
bool make_temporary_pattern(const char* entry, char* out) {
  const std::size_t directory_length = directory_part_length(entry);
  const char* name = entry + directory_length;
  const std::size_t name_length = shortened_name_length(name, std::strlen(name));
  const char suffix[] = ".XXXXXX";
  if (name_length == 0 || directory_length + 1 + name_length + sizeof suffix > path_buffer_bytes) {
    return false;
  }
  std::memcpy(out, entry, directory_length);
  out += directory_length;
  *out++ = '.';
  std::memcpy(out, name, name_length);
  out += name_length;
  std::memcpy(out, suffix, sizeof suffix);
  return true;
}

int free_slot() {
  for (int slot = 0; slot < most_temporary_files; ++slot) {
    if (!records[slot].held) {
      return slot;
    }
  }
  return -1;
}

// Creates a new, empty temporary file beside the place's entry, with a
// hidden name no other run can predict or share; private_file as for
// create_unique_file. Returns its stream and its slot in *slot, or null
// (errno set) when no such file can be created there.
std::FILE* create_temporary_file(const output_place& place, bool private_file, int* slot) {
  hold_interrupts();
  std::FILE* file = nullptr;
  const int chosen = free_slot();
  if (chosen < 0 || !make_temporary_pattern(place.entry, records[chosen].name)) {
    errno = ENAMETOOLONG;
  } else {
    temporary_record& record = records[chosen];
    file = create_unique_file(place.directory, record.name, private_file);
    record.held = file != nullptr;
    if (record.held) {
      record.directory = place.directory;
      arm_interrupt_cleanup(chosen, record.directory, record.name);
      *slot = chosen;
    }
  }
  const int error = errno;
  release_interrupts();
  errno = error;
  return file;
}

// Renames the temporary file in slot over the place's entry; true on
// success. Either way the temporary file no longer exists afterwards.
bool commit_temporary_file(int slot, const output_place& place) {
  temporary_record& record = records[slot];
  hold_interrupts();
  const bool renamed = rename_entry(record.directory, record.name, place.entry);
  if (!renamed) {
    remove_entry(record.directory, record.name);
  }
  record.held = false;
  disarm_interrupt_cleanup(slot);
  release_interrupts();
  return renamed;
}

// Removes the temporary file in slot.
void discard_temporary_file(int slot) {
  temporary_record& record = records[slot];
  hold_interrupts();
  if (record.held) {
    remove_entry(record.directory, record.name);
    record.held = false;
    disarm_interrupt_cleanup(slot);
  }
  release_interrupts();
}

// Writes count bytes in parts of at most largest_stdio_transfer bytes; false
// when any part is not written whole.
bool write_all(std::FILE* file, const std::uint8_t* bytes, std::uint64_t count) {
  if (count > SIZE_MAX) {
    return false;
  }
  const auto total = static_cast<std::size_t>(count);
  for (std::size_t done = 0; done < total;) {
    const std::size_t part = transfer_part(total - done);
    if (std::fwrite(bytes + done, part, 1, file) != 1) {
      return false;
    }
    done += part;
  }
  return true;
}

bool replaces_file(const output_place& place) {
  return place.facts.holds == name_holds::regular_file;
}

// The file the bytes go to: a new temporary file beside the name or, where
// the rules say so, the old file itself.
std::FILE* open_file_at(output_file* out) {
  output_place& place = out->place;
  if (place.decision.action == output_action::write_in_place) {
    // Cut only when the first byte is written: the file may be the input.
    out->cut_pending = true;
    return open_in_place(place);
  }
  // A file that keeps an old one's attributes is private until it has them.
  std::FILE* file = create_temporary_file(place, place.decision.keep_attributes, &out->slot);
  if (file == nullptr) {
    // The directory refused the new file after all (where the system tells
    // only by refusing): decided again as a directory the user cannot
    // write, which never chooses a replacement.
    if (!creation_was_refused() || !place.facts.directory_writable) {
      return nullptr;
    }
    place.facts.directory_writable = false;
    place.decision = decide_output(place.facts);
    return place.decision.action == output_action::write_in_place ? open_file_at(out) : nullptr;
  }
  if (place.decision.keep_attributes && !copy_file_attributes(file, place)) {
    out->failed = true;
  }
  return file;
}

}  // namespace

int open_output_file(const char* path, const output_request& request, output_file* out) {
  out->path = path;
  out->slot = -1;
  out->failed = false;
  find_output_place(path, request, &out->place);
  out->cut_pending = out->place.cut_before_writing;
  const output_action action = out->place.decision.action;
  out->file = action == output_action::refuse ? nullptr
              : out->place.stream != nullptr  ? out->place.stream
                                              : open_file_at(out);
  if (out->file == nullptr) {
    release_output_place(&out->place);
    out->failed = true;
    out->failure = message_id::cannot_create;
    return status::write_failed;
  }
  return status::ok;
}

void write_output_bytes(output_file* out, const std::uint8_t* bytes, std::uint64_t count) {
  if (out->cut_pending) {
    out->cut_pending = false;
    out->failed = out->failed || !cut_to_start(out->file);
  }
  if (!out->failed && !write_all(out->file, bytes, count)) {
    out->failed = true;
  }
}

void flush_output_bytes(output_file* out) {
  if (out->file != nullptr && !out->failed && std::fflush(out->file) != 0) {
    out->failed = true;
  }
}

bool writes_at_offsets(const output_file& out) {
  // A temporary file is a regular file of the run's own, not appended to.
  return out.file != nullptr && (out.slot >= 0 || takes_writes_at_offsets(out.file));
}

bool write_output_at(const output_file& out, std::uint64_t offset, const std::uint8_t* bytes,
                     std::uint64_t count) {
  return count <= SIZE_MAX &&
         write_file_at(out.file, offset, bytes, static_cast<std::size_t>(count));
}

int close_output_file(output_file* out) {
  if (out->file == nullptr) {
    return out->failed ? status::write_failed : status::ok;
  }
  bool whole = !out->failed && std::fflush(out->file) == 0 && std::ferror(out->file) == 0;
  // Only an existing file's content is at stake if the rename reaches the
  // disk before the data it names.
  if (whole && out->slot >= 0 && replaces_file(out->place)) {
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
  if (!placed) {
    out->failed = true;
    out->failure = message_id::write_error;
  }
  return placed ? status::ok : status::write_failed;
}

void abandon_output_file(output_file* out) {
  if (out->file == nullptr) {
    return;
  }
  std::fclose(out->file);
  out->file = nullptr;
  if (out->slot >= 0) {
    discard_temporary_file(out->slot);
  }
  release_output_place(&out->place);
}

void report_output_failure(const output_file& out) {
  if (out.failed) {
    print_name_message(out.failure, out.path);
  }
}

bool writes_directly_over(const output_file& out, const name_info& file) {
  if (out.file == nullptr || out.slot >= 0) {
    return false;
  }
  return is_same_file(inspect_open_file(out.file), file);
}

int write_output_file(const char* path, const output_piece* pieces, int piece_count,
                      output_name_kind kind) {
  output_file out;
  output_request request;
  request.kind = kind;
  if (open_output_file(path, request, &out) == status::ok) {
    for (int i = 0; i < piece_count; ++i) {
      write_output_bytes(&out, pieces[i].bytes, pieces[i].count);
    }
    close_output_file(&out);
  }
  report_output_failure(out);
  return out.failed ? status::write_failed : status::ok;
}
