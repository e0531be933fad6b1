#include <windows.h>

#include <string>
#include <vector>

#include "driver/program_entry.h"

namespace {

// The UTF-8 form of a UTF-16 argument. An unpaired surrogate, which no file
// name typed as text holds, becomes U+FFFD.
std::string to_utf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) {
    return std::string();
  }
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], bytes, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero counted in bytes
  return utf8;
}

}  // namespace

// The arguments arrive as UTF-16 and are handed on once as UTF-8, which
// every name stays in from here on.
extern "C" int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> texts;
  std::vector<const char*> arguments;
  for (int i = 0; i < argc; ++i) {
    texts.push_back(to_utf8(argv[i]));
  }
  for (const std::string& text : texts) {
    arguments.push_back(text.c_str());
  }
  arguments.push_back(nullptr);
  return program_main(argc, arguments.data());
}
