#include "core/text_output.h"

#include <windows.h>

#include <io.h>

#include <string>

#include "core/wide_names_windows.h"

namespace {

// The console shows UTF-16 text as it is; each "\n" becomes "\r\n", as the
// text stream would write it.
bool write_to_console(HANDLE console, const char* bytes, std::size_t count) {
  std::wstring text;
  if (!to_wide_text(bytes, count, &text)) {
    return false;
  }
  std::wstring lines;
  for (const wchar_t c : text) {
    if (c == L'\n') {
      lines += L'\r';
    }
    lines += c;
  }
  DWORD written = 0;
  return lines.size() <= MAXDWORD &&
         WriteConsoleW(console, lines.data(), static_cast<DWORD>(lines.size()), &written,
                       nullptr) != 0;
}

}  // namespace

void write_text(std::FILE* stream, const char* bytes, std::size_t count) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  const bool console = handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
  // Text that is not valid UTF-8 goes out through the stream unchanged.
  if (!console || !write_to_console(handle, bytes, count)) {
    std::fwrite(bytes, 1, count, stream);
  }
}
