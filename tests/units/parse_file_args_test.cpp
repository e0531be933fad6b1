#include "driver/parse_file_args.h"
#include "driver/thread_count.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct args_case {
  std::vector<const char*> argv;
  int want_status;
  std::string want_input, want_output;
  bool want_output_typed;
};

TEST(ParseFileArgs, TableOfCommandLines) {
  const args_case cases[] = {
      {{"tesvar"}, 0, "tesvar.bmp", "tesvar.bmp", false},
      {{"tesvar", "in.bmp"}, 0, "in.bmp", "tesvar.bmp", false},
      {{"tesvar", "in.bmp", "out.bmp"}, 0, "in.bmp", "out.bmp", true},
      {{"tesvar", "", "out.bmp"}, 0, "", "out.bmp", true},
      {{"tesvar", "in.bmp", "tesvar.bmp"}, 0, "in.bmp", "tesvar.bmp", true},
      {{"tesvar", "-h"}, 1, "", "", false},
      {{"tesvar", "-"}, 1, "", "", false},
      {{"tesvar", "a.bmp", "-"}, 1, "", "", false},
      {{"tesvar", "a.bmp", "b.bmp", "c.bmp"}, 1, "", "", false},
      {{"tesvar", "a.bmp", "b.bmp", "-x"}, 1, "", "", false},
      {{}, 0, "tesvar.bmp", "tesvar.bmp", false},
  };
  for (const args_case& c : cases) {
    file_args names{nullptr, nullptr, false};
    const int got =
        parse_file_args(static_cast<int>(c.argv.size()), c.argv.data(), "tesvar.bmp", &names);
    EXPECT_EQ(got, c.want_status) << c.argv.size();
    if (got == 0) {
      EXPECT_EQ(names.input, c.want_input);
      EXPECT_EQ(names.output, c.want_output);
      EXPECT_EQ(names.output_typed, c.want_output_typed);
    }
  }
}

TEST(ProgramName, BackwardSearchStopsBeforeTheFirstCharacter) {
  const std::pair<const char*, const char*> cases[] = {
      {"tesvar", "tesvar"},
      {"./tesvar", "tesvar"},
      {"/usr/local/bin/morvane", "morvane"},
      {"C:\\tools\\tesvar.exe", "tesvar.exe"},
      {"dir\\sub/tesvarex", "tesvarex"},
      {"/tesvar", "/tesvar"},
      {"\\tesvar", "\\tesvar"},
      {"bin/", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(program_name(c.first), c.second) << c.first;
  }
  EXPECT_STREQ(program_name(nullptr), "");
}

TEST(PrintUsage, TwoBlanksBetweenNameAndBracket) {
  testing::internal::CaptureStderr();
  print_usage("/opt/x/morvanex");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\nusage: morvanex  [input_bmp [output_bmp]]\n\n");
}

// Control bytes in a name are printed as a backslash and three octal
// digits; every other byte, UTF-8 included, as it is.
TEST(PrintUsage, ControlBytesInTheNameArePrintedAsOctalEscapes) {
  const std::pair<const char*, const char*> cases[] = {
      {"bin/a\033[2Jb", "a\\033[2Jb"}, {"x\ny\tz\a", "x\\012y\\011z\\007"}, {"del\x7f", "del\\177"},
      {"\x1f\x20~", "\\037 ~"},        {"caf\xc3\xa9", "caf\xc3\xa9"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    print_usage(c.first);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("\nusage: ") + c.second + "  [input_bmp [output_bmp]]\n\n")
        << c.first;
  }
}

// The thread count a run takes from CONVERTERS_NUM_THREADS: a whole number
// from 1 to the most threads, or else the processors it may use.
TEST(ThreadCount, ValidValuesAreTakenAndEveryOtherGivesTheProcessors) {
  const std::pair<const char*, int> cases[] = {
      {nullptr, 6}, {"", 6},    {"1", 1},   {"2", 2},
      {"64", 64},   {"065", 6}, {"65", 6},  {"0", 6},
      {"-1", 6},    {"+2", 6},  {" 2", 6},  {"2 ", 6},
      {"2x", 6},    {"x", 6},   {"1.5", 6}, {"99999999999999999999", 6},
      {"007", 7},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(thread_count_for(c.first, 6), c.second) << (c.first ? c.first : "(unset)");
  }
}

}  // namespace
