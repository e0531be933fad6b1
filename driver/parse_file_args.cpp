#include "driver/parse_file_args.h"

#include <cstring>

#include "system/messages.h"
#include "system/status.h"

int parse_file_args(int argc, const char* const* argv, const char* default_name, file_args* names) {
  const char* found[2] = {nullptr, nullptr};
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-' || count == 2) {
      return status::usage;
    }
    found[count++] = arg;
  }
  names->input = found[0] != nullptr ? found[0] : default_name;
  names->output = found[1] != nullptr ? found[1] : default_name;
  names->output_typed = found[1] != nullptr;
  return status::ok;
}

const char* program_name(const char* argv0) {
  if (argv0 == nullptr) {
    return "";
  }
  // The first character is never examined, so "/tesvar" stays whole.
  for (std::size_t i = std::strlen(argv0); i > 1; --i) {
    const char c = argv0[i - 1];
    if (c == '/' || c == '\\') {
      return argv0 + i;
    }
  }
  return argv0;
}

void print_usage(const char* argv0) {
  // The empty second field keeps two blanks between the name and the bracket.
  print_name_message(message_id::usage, program_name(argv0));
}
