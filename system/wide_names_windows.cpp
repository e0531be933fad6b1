#include "system/wide_names_windows.h"

#include <windows.h>

#include <climits>
#include <cstring>

bool to_wide_text(const char* utf8, std::size_t count, wchar_t* out, std::size_t capacity,
                  std::size_t* units) {
  *units = 0;
  if (capacity == 0) {
    return false;
  }
  out[0] = L'\0';
  if (count == 0) {
    return true;
  }
  if (count > INT_MAX || capacity - 1 > INT_MAX) {
    return false;
  }
  const int room = static_cast<int>(capacity - 1);
  const int written =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, static_cast<int>(count), out, room);
  if (written <= 0) {
    return false;
  }
  out[written] = L'\0';
  *units = static_cast<std::size_t>(written);
  return true;
}

bool to_wide_name(const char* utf8, wide_name* wide) {
  return to_wide_text(utf8, std::strlen(utf8), wide->text, sizeof wide->text / sizeof(wchar_t),
                      &wide->length);
}
