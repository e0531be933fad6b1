#include "core/wide_names_windows.h"

#include <windows.h>

#include <climits>
#include <cstring>

bool to_wide_text(const char* utf8, std::size_t count, std::wstring* wide) {
  wide->clear();
  if (count == 0) {
    return true;
  }
  if (count > INT_MAX) {
    return false;
  }
  const int bytes = static_cast<int>(count);
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, bytes, nullptr, 0);
  if (units <= 0) {
    return false;
  }
  wide->resize(static_cast<std::size_t>(units));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, bytes, &(*wide)[0], units) ==
         units;
}

bool to_wide_name(const char* utf8, std::wstring* wide) {
  return to_wide_text(utf8, std::strlen(utf8), wide);
}
