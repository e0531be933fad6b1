#include <windows.h>

#include <cstdlib>

#include "driver/program_entry.h"
#include "system/handed_descriptors.h"
#include "system/messages.h"
#include "system/status.h"

namespace {

// Bytes of the UTF-8 form of a UTF-16 argument, its terminating zero
// included. An unpaired surrogate, which no file name typed as text holds,
// becomes U+FFFD.
int utf8_bytes(const wchar_t* text) {
  return WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
}

}  // namespace

// The arguments arrive as UTF-16 and are handed on once as UTF-8, which
// every name stays in from here on. One block holds the pointer table and
// every converted text.
extern "C" int wmain(int argc, wchar_t** argv) {
  occupy_closed_standard_descriptors();
  std::size_t text_bytes = 0;
  for (int i = 0; i < argc; ++i) {
    const int bytes = utf8_bytes(argv[i]);
    text_bytes += bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
  }
  const std::size_t table_bytes = (static_cast<std::size_t>(argc) + 1) * sizeof(char*);
  void* block = std::malloc(table_bytes + text_bytes);
  if (block == nullptr) {
    print_message(message_id::load_no_memory);
    return status::load_no_memory;
  }
  auto** arguments = static_cast<char**>(block);
  char* text = static_cast<char*>(block) + table_bytes;
  for (int i = 0; i < argc; ++i) {
    const int bytes = utf8_bytes(argv[i]);
    arguments[i] = text;
    if (bytes <= 0 ||
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text, bytes, nullptr, nullptr) != bytes) {
      *text++ = '\0';
      continue;
    }
    text += bytes;
  }
  arguments[argc] = nullptr;
  const int result = program_main(argc, arguments);
  std::free(block);
  return result;
}
