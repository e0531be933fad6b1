#include "system/temporary_files.h"

#include <cerrno>
#include <cstring>

#include "system/interrupt_cleanup.h"

namespace {

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

}  // namespace

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
