#include "core/temporary_file.h"

#include <cerrno>
#include <cstring>

#include "core/file_system.h"
#include "core/interrupt_cleanup.h"

namespace {

// The temporary file's name; held is set only while the name is complete
// and the file exists, and the interrupt cleanup is armed just as long.
char temporary_path[4096 + 64];
bool held = false;

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

// Writes DIRECTORY/.NAME.XXXXXX into temporary_path for final_path =
// DIRECTORY/NAME (or NAME alone); false when it does not fit or NAME is
// empty.
bool make_temporary_pattern(const char* final_path) {
  const std::size_t directory_length = directory_part_length(final_path);
  const char* name = final_path + directory_length;
  const std::size_t name_length = shortened_name_length(name, std::strlen(name));
  if (name_length == 0) {
    return false;
  }
  const char suffix[] = ".XXXXXX";
  if (directory_length + 1 + name_length + sizeof suffix > sizeof temporary_path) {
    return false;
  }
  char* out = temporary_path;
  std::memcpy(out, final_path, directory_length);
  out += directory_length;
  *out++ = '.';
  std::memcpy(out, name, name_length);
  out += name_length;
  std::memcpy(out, suffix, sizeof suffix);
  return true;
}

}  // namespace

std::FILE* create_temporary_file(const char* final_path) {
  hold_interrupts();
  std::FILE* file = nullptr;
  if (held || !make_temporary_pattern(final_path)) {
    errno = ENAMETOOLONG;
  } else {
    file = create_unique_file(temporary_path);
    held = file != nullptr;
    if (held) {
      arm_interrupt_cleanup(temporary_path);
    }
  }
  const int error = errno;
  release_interrupts();
  errno = error;
  return file;
}

bool commit_temporary_file(const char* final_path) {
  hold_interrupts();
  const bool renamed = rename_replacing(temporary_path, final_path);
  if (!renamed) {
    remove_name(temporary_path);
  }
  held = false;
  disarm_interrupt_cleanup();
  release_interrupts();
  return renamed;
}

void discard_temporary_file() {
  hold_interrupts();
  if (held) {
    remove_name(temporary_path);
    held = false;
    disarm_interrupt_cleanup();
  }
  release_interrupts();
}
