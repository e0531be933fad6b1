// A stand-in program for the test of the program runner:
//   print_arguments STATUS [ARGUMENT...]
// writes each argument (argument 0 too) followed by a NUL byte to the
// standard output stream, "status STATUS" and a newline to the standard
// error stream, and exits with STATUS. On Windows the arguments are read as
// UTF-16 and printed as UTF-8.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

int print_arguments(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    std::fwrite(arg.c_str(), 1, arg.size() + 1, stdout);
  }
  const std::string status = args.size() > 1 ? args[1] : "0";
  std::fprintf(stderr, "status %s\n", status.c_str());
  return std::atoi(status.c_str());
}

#ifdef _WIN32
std::string utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}
#endif

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    args.push_back(utf8(argv[i]));
  }
  return print_arguments(args);
}
#else
int main(int argc, char** argv) {
  return print_arguments(std::vector<std::string>(argv, argv + argc));
}
#endif
