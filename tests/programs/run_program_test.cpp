// The program runner itself: what a program is given and what comes back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/run_program.h"

namespace {

// Every argument a program is given and the NUL byte print_arguments
// writes after each.
std::string printed(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) {
    out += arg;
    out.push_back('\0');
  }
  return out;
}

TEST(RunProgram, ArgumentsStatusAndStreamsComeBackUnchanged) {
  struct runner_case {
    std::string what;
    std::vector<std::string> args;  // after argument 0
    int status;
  };
  const std::vector<runner_case> cases = {
      {"no argument", {"0"}, 0},
      {"plain words", {"3", "in.bmp", "out.bmp"}, 3},
      {"largest status", {"255", "x"}, 255},
      {"empty argument", {"1", "", "b"}, 1},
      {"spaces and tabs", {"2", "a b", " lead", "trail ", "tab\there"}, 2},
      {"quotes", {"4", "\"", "say \"hi\"", "a\"b"}, 4},
      {"backslashes before a quote and at the end",
       {"5", "a\\\"b", "dir\\", "dir with space\\", "\\\\server\\share"},
       5},
      {"newline inside an argument", {"6", "line one\nline two"}, 6},
      {"UTF-8 names", {"7", "\xE7\x94\xBB\xE5\x83\x8F.bmp", "na\xC3\xAFve caf\xC3\xA9"}, 7},
  };
  const scratch_dir dir;
  for (const runner_case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> argv{"print_arguments"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const program_result r = run_program(PRINT_ARGUMENTS_PATH, argv, dir.path());
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.out, printed(argv));
    EXPECT_EQ(r.err, native_line_ends("status " + c.args[0] + "\n"));
  }
}

// Argument 0 is the test's choice, not the file's path, also when an
// emulator starts the program.
TEST(RunProgram, ArgumentZeroIsTheOneAskedFor) {
  const scratch_dir dir;
  for (const std::string argv0 : {"renamed", "/some/other/dir/print_arguments", "two words"}) {
    SCOPED_TRACE(argv0);
    const std::vector<std::string> argv{argv0, "0"};
    const program_result r = run_program(PRINT_ARGUMENTS_PATH, argv, dir.path());
    EXPECT_EQ(r.out, printed(argv));
  }
}

TEST(RunProgram, MissingProgramIsReported) {
  const scratch_dir dir;
  const std::string missing = dir.file("no-such-program");
  bool reported = false;
  try {
    const program_result r = run_program(missing, {"no-such-program"}, dir.path());
    // fork succeeds and only the child's execve fails.
    reported = r.exited && r.exit_status == 127;
  } catch (const std::runtime_error&) {
    reported = true;
  }
  EXPECT_TRUE(reported);
}

}  // namespace
