#include <cstdlib>

#include "driver/program_entry.h"
#include "system/handed_descriptors.h"
#include "system/messages.h"
#include "system/status.h"
#include "system/wide_names_windows.h"

// The arguments arrive as UTF-16 and are handed on once as UTF-8, which
// every name stays in from here on, each exactly as given (see
// to_argument_utf8: a name with an unpaired surrogate is then refused, as
// input or output, rather than taken for another file's name). One block
// holds the pointer table and every converted text.
extern "C" int wmain(int argc, wchar_t** argv) {
  occupy_closed_standard_descriptors();
  std::size_t text_bytes = 0;
  for (int i = 0; i < argc; ++i) {
    text_bytes += to_argument_utf8(argv[i], nullptr) + 1;
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
    arguments[i] = text;
    text += to_argument_utf8(argv[i], text) + 1;
  }
  arguments[argc] = nullptr;
  const int result = program_main(argc, arguments);
  std::free(block);
  return result;
}
