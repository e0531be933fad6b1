// Runs a program with CreateProcessW: the arguments become one command
// line, quoted so that the program's start-up code splits it back into the
// same arguments, and its output streams are read through pipes.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/run_program.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + " failed with error " + std::to_string(GetLastError()));
}

std::wstring strictly_wide(const std::string& utf8) {
  if (utf8.empty()) {
    return std::wstring();
  }
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) {
    fail("MultiByteToWideChar");
  }
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                      text.data(), length);
  return text;
}

// The UTF-16 form of UTF-8 text in which the three bytes of a surrogate's
// code point (ED A0 80 to ED BF BF, never valid UTF-8) stand for that
// surrogate alone: how a test gives a program a name with an unpaired
// surrogate, as Windows allows.
std::wstring wide(const std::string& utf8) {
  std::wstring text;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 2 < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const auto second = static_cast<unsigned char>(utf8[i + 1]);
    const auto third = static_cast<unsigned char>(utf8[i + 2]);
    if (lead == 0xED && second >= 0xA0 && second <= 0xBF && (third & 0xC0) == 0x80) {
      text += strictly_wide(utf8.substr(start, i - start));
      text.push_back(static_cast<wchar_t>(0xD000 | (second & 0x3F) << 6 | (third & 0x3F)));
      start = i + 3;
      i += 2;
    }
  }
  return text + strictly_wide(utf8.substr(start));
}

// One argument as the C runtime's command-line splitter reads it back:
// inside quotes, backslashes are literal except before a quote, where each
// pair stands for one backslash and an odd one escapes the quote.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return arg;
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    const std::size_t copies = c == L'"' ? 2 * backslashes + 1 : backslashes;
    out.append(copies, L'\\');
    out.push_back(c);
    backslashes = 0;
  }
  out.append(2 * backslashes, L'\\');
  out.push_back(L'"');
  return out;
}

std::wstring command_line(const std::vector<std::string>& args) {
  std::wstring line;
  for (const std::string& arg : args) {
    line += (line.empty() ? L"" : L" ") + quoted(wide(arg));
  }
  return line;
}

// The parent's environment block with the entries of options added.
std::wstring environment_block(const run_options& options) {
  std::wstring block;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
    block.append(entry).push_back(L'\0');
  }
  FreeEnvironmentStringsW(inherited);
  for (const std::string& entry : options.environment) {
    block.append(wide(entry)).push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

struct handles {
  HANDLE null_in = INVALID_HANDLE_VALUE;
  HANDLE out_read = nullptr, out_write = nullptr;
  HANDLE err_read = nullptr, err_write = nullptr;
};

void close_handle(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
  }
  h = nullptr;
}

void close_all(handles& h) {
  for (HANDLE* each : {&h.null_in, &h.out_read, &h.out_write, &h.err_read, &h.err_write}) {
    close_handle(*each);
  }
}

// A pipe whose write end the child inherits and whose read end it does not.
void make_pipe(HANDLE& read_end, HANDLE& write_end) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(&read_end, &write_end, &inherit, 0) ||
      !SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0)) {
    fail("CreatePipe");
  }
}

// Inheritable handles exist only while this is held, so that a program
// started by another thread at the same time cannot inherit them and keep
// the pipes open after this program has ended.
std::mutex inheritable_handles;

PROCESS_INFORMATION start(const std::string& executable, const std::vector<std::string>& args,
                          const std::string& working_dir, const run_options& options, handles& h) {
  const std::wstring application =
      std::filesystem::absolute(std::filesystem::u8path(executable)).make_preferred().wstring();
  std::wstring line = command_line(args);
  std::wstring environment = environment_block(options);
  const std::wstring dir = std::filesystem::u8path(working_dir).make_preferred().wstring();

  const std::lock_guard<std::mutex> lock(inheritable_handles);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  h.null_in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr);
  if (h.null_in == INVALID_HANDLE_VALUE) {
    fail("opening NUL");
  }
  make_pipe(h.out_read, h.out_write);
  make_pipe(h.err_read, h.err_write);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = h.null_in;
  startup.hStdOutput = h.out_write;
  startup.hStdError = h.err_write;
  PROCESS_INFORMATION process{};
  // wine, which the tests run under, now and then fails to start a process
  // with ERROR_INTERNAL_ERROR (seen once in CI, in a stage that had passed
  // many times before); nothing was started then, so it is asked again.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt));
    }
    started = CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                             CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                             dir.c_str(), &startup, &process);
    if (!started && GetLastError() != ERROR_INTERNAL_ERROR) {
      break;
    }
  }
  close_handle(h.null_in);
  close_handle(h.out_write);
  close_handle(h.err_write);
  if (!started) {
    fail("CreateProcessW " + executable);
  }
  return process;
}

void read_to_end(HANDLE pipe, std::string& text) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
}

}  // namespace

std::string unsupported_options(const run_options& options) {
  std::string reasons;
  const auto add = [&reasons](bool asked, const char* reason) {
    if (asked) {
      reasons += (reasons.empty() ? "" : "; ") + std::string(reason);
    }
  };
  add(options.address_space_limit != 0, "Windows has no address-space limit for a process");
  add(options.file_size_limit != 0,
      "Windows has no limit on the size of the files a process writes");
  add(options.signal_on_temporary_file != 0, "Windows has no signals to end a process by");
  add(options.umask >= 0, "Windows has no file-creation mask");
  add(options.without_root, "Windows has no root user whose rights a test could give up");
  add(!options.descriptors.empty(), "Windows programs have no descriptor names to hand over");
  return reasons;
}

program_result run_program(const std::string& executable, const std::vector<std::string>& args,
                           const std::string& working_dir, const run_options& options) {
  const std::string unsupported = unsupported_options(options);
  if (!unsupported.empty()) {
    throw std::logic_error("run_program: " + unsupported);
  }
  handles h;
  PROCESS_INFORMATION process{};
  try {
    process = start(executable, args, working_dir, options, h);
  } catch (...) {
    close_all(h);
    throw;
  }
  program_result result;
  // Both pipes are read at once, so that a full one cannot block the program.
  std::thread err_reader([&] { read_to_end(h.err_read, result.err); });
  read_to_end(h.out_read, result.out);
  err_reader.join();
  close_all(h);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.exited = true;
  result.exit_status = static_cast<int>(code);
  return result;
}
