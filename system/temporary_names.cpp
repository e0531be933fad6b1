#include "system/temporary_names.h"

#include <cstring>

#include "system/file_system.h"

namespace {

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

}  // namespace

void letters_from_random_bytes(const unsigned char* random, char* letters) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr unsigned alphabet_size = sizeof alphabet - 1;
  for (int i = 0; i < random_name_letters; ++i) {
    letters[i] = alphabet[random[i] % alphabet_size];
  }
}

bool make_temporary_pattern(const char* entry, char* pattern) {
  const std::size_t directory_length = directory_part_length(entry);
  const char* name = entry + directory_length;
  const std::size_t name_length = shortened_name_length(name, std::strlen(name));
  const char suffix[] = ".XXXXXX";
  if (name_length == 0 || directory_length + 1 + name_length + sizeof suffix > path_buffer_bytes) {
    return false;
  }
  std::memcpy(pattern, entry, directory_length);
  pattern += directory_length;
  *pattern++ = '.';
  std::memcpy(pattern, name, name_length);
  pattern += name_length;
  std::memcpy(pattern, suffix, sizeof suffix);
  return true;
}
