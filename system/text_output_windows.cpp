#include "system/text_output.h"

#include <windows.h>

#include <io.h>

#include <cstring>

#include "system/wide_names_windows.h"

namespace {

// The console shows UTF-16 text as it is; each "\n" becomes "\r\n", as the
// text stream would write it.
// Messages come in pieces of at most this many bytes.
constexpr std::size_t longest_piece = message_piece_bytes;

bool write_to_console(HANDLE console, const char* bytes, std::size_t count) {
  wchar_t text[longest_piece + 1];
  std::size_t units = 0;
  if (count > longest_piece || !to_wide_text(bytes, count, text, longest_piece + 1, &units)) {
    return false;
  }
  wchar_t lines[2 * longest_piece];
  DWORD length = 0;
  for (std::size_t i = 0; i < units; ++i) {
    if (text[i] == L'\n') {
      lines[length++] = L'\r';
    }
    lines[length++] = text[i];
  }
  DWORD written = 0;
  return WriteConsoleW(console, lines, length, &written, nullptr) != 0;
}

}  // namespace

void write_text(std::FILE* stream, const char* text, std::size_t count) {
  // A name's unpaired surrogates are shown as U+FFFD.
  char shown[longest_piece];
  const char* bytes = text;
  if (count <= longest_piece) {
    std::memcpy(shown, text, count);
    show_unpaired_surrogates(shown, count);
    bytes = shown;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  const bool console = handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
  // Text that is not valid UTF-8 goes out through the stream unchanged.
  if (!console || !write_to_console(handle, bytes, count)) {
    std::fwrite(bytes, 1, count, stream);
  }
}
