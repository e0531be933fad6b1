#include "driver/parse_file_args.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct args_case {
  std::vector<const char*> argv;
  int want_status;
  std::string want_input, want_output;
};

TEST(ParseFileArgs, TableOfCommandLines) {
  const args_case cases[] = {
      {{"tesvar"}, 0, "tesvar.bmp", "tesvar.bmp"},
      {{"tesvar", "in.bmp"}, 0, "in.bmp", "tesvar.bmp"},
      {{"tesvar", "in.bmp", "out.bmp"}, 0, "in.bmp", "out.bmp"},
      {{"tesvar", "", "out.bmp"}, 0, "", "out.bmp"},
      {{"tesvar", "-h"}, 1, "", ""},
      {{"tesvar", "-"}, 1, "", ""},
      {{"tesvar", "a.bmp", "-"}, 1, "", ""},
      {{"tesvar", "a.bmp", "b.bmp", "c.bmp"}, 1, "", ""},
      {{"tesvar", "a.bmp", "b.bmp", "-x"}, 1, "", ""},
      {{}, 0, "tesvar.bmp", "tesvar.bmp"},
  };
  for (const args_case& c : cases) {
    file_args names{nullptr, nullptr};
    const int got =
        parse_file_args(static_cast<int>(c.argv.size()), c.argv.data(), "tesvar.bmp", &names);
    EXPECT_EQ(got, c.want_status) << c.argv.size();
    if (got == 0) {
      EXPECT_EQ(names.input, c.want_input);
      EXPECT_EQ(names.output, c.want_output);
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

}  // namespace
