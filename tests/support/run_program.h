// Runs a built program as a user would, for the end-to-end tests: with
// fork and execve (run_program_posix.cpp) or CreateProcessW
// (run_program_windows.cpp). Paths and arguments are UTF-8; on Windows
// the bytes of a surrogate's code point (ED A0 80 to ED BF BF) in an
// argument give the program that surrogate unpaired.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct program_result {
  bool exited = false;   // ended through exit (or a return from main); always on Windows
  int exit_status = -1;  // valid when exited
  int signal = 0;        // the signal that ended it, when it did not exit
  std::string out;       // everything written to the standard output stream
  std::string err;       // everything written to the standard error stream
};

// What a test may change about the process a program runs in. Only the
// environment can be changed on Windows.
struct run_options {
  // Caps the address space in bytes (0: no cap), so that a large
  // allocation fails without using the memory.
  std::uint64_t address_space_limit = 0;
  // Caps the size of any file the program writes (0: no cap). The signal
  // for passing it is ignored, so the write itself fails part way.
  std::uint64_t file_size_limit = 0;
  // Leaves the signal for passing file_size_limit at its default action, so
  // that passing the cap ends the program instead of failing the write.
  bool file_size_limit_kills = false;
  // A signal sent to the program as soon as temporary_files_before_signal
  // hidden entries (temporary files) have appeared in working_dir; 0 for
  // none.
  int signal_on_temporary_file = 0;
  int temporary_files_before_signal = 1;
  // Ends the program with SIGALRM after this many seconds (0: never), so
  // that a program that blocks cannot hold the tests.
  unsigned time_limit_seconds = 0;
  // The program's file-creation mask; -1 keeps the tests' own.
  int umask = -1;
  // When the tests run as root, the program runs as the user nobody, so
  // that file permissions apply to it.
  bool without_root = false;
  // "NAME=value" entries added to the environment.
  std::vector<std::string> environment;
  // Descriptors of the tests the program gets under other numbers: {n, fd}
  // gives it fd as its descriptor n (0 to 9), in place of the null device,
  // the captured pipes or nothing; {n, -1} leaves n closed. The tests keep
  // and close fd.
  std::vector<std::pair<int, int>> descriptors;
};

// Why options cannot be had on this system, or empty when they can; a test
// that needs them skips with this reason.
std::string unsupported_options(const run_options& options);

// Runs executable with the argument vector args (args[0] is the program's
// own name as the program sees it, chosen freely) in working_dir, with the
// standard input stream read from the null device. No shell is involved.
// Throws std::runtime_error when the process cannot be started or waited
// for, std::logic_error for options the system cannot give.
program_result run_program(const std::string& executable, const std::vector<std::string>& args,
                           const std::string& working_dir, const run_options& options = {});

// text with the line ends that a program's standard error stream has on
// this system: "\r\n" on Windows, where it is a text stream, "\n" elsewhere.
std::string native_line_ends(const std::string& text);

// A fresh, empty directory (make_temp_dir), removed
// with everything in it when the object goes away.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  const std::string& path() const { return path_; }
  // path/name
  std::string file(const std::string& name) const;
  // The names of the directory's entries, sorted.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};
