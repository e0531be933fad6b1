// The programs' command line, run as a user would: what argument 0 and
// arguments the programs do not take print, and that nothing is written.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

std::string usage_text(const std::string& name) {
  return "\nusage: " + name + "  [input_bmp [output_bmp]]\n\n";
}

// Argument 0 as the program is started with it, and the name the usage
// shows for it.
struct called_as {
  std::string name;
};
struct usage_shows {
  std::string name;
};

TEST(ProgramCommandLine, BadArgumentsPrintUsageAndWriteNothing) {
  const bytes input = build_bitmap(encode_24(known_colours(tesvar), rows_bottom_up));
  struct usage_case {
    const program* prog;
    std::vector<std::string> args;
    called_as called;
    usage_shows shown;
  };
  const std::vector<usage_case> cases = {
      {&tesvar, {"-h"}, called_as{"tesvar"}, usage_shows{"tesvar"}},
      {&morvane, {"-h"}, called_as{"morvane"}, usage_shows{"morvane"}},
      {&tesvarex, {"-h"}, called_as{"tesvarex"}, usage_shows{"tesvarex"}},
      {&morvanex, {"-h"}, called_as{"morvanex"}, usage_shows{"morvanex"}},
      {&tesvar, {"-"}, called_as{"tesvar"}, usage_shows{"tesvar"}},
      {&tesvar, {"a.bmp", "-"}, called_as{"tesvar"}, usage_shows{"tesvar"}},
      {&tesvar, {"-h", "a.bmp"}, called_as{"tesvar"}, usage_shows{"tesvar"}},
      {&tesvar, {"a.bmp", "b.bmp", "c.bmp"}, called_as{"tesvar"}, usage_shows{"tesvar"}},
      {&morvanex, {"a.bmp", "b.bmp", "c.bmp"}, called_as{"morvanex"}, usage_shows{"morvanex"}},
      {&tesvar, {"-h"}, called_as{"C:\\tools\\tesvar.exe"}, usage_shows{"tesvar.exe"}},
      {&tesvar, {"-h"}, called_as{"/tesvar"}, usage_shows{"/tesvar"}},
      {&tesvar, {"-h"}, called_as{"\\tesvar"}, usage_shows{"\\tesvar"}},
      {&tesvar, {"-h"}, called_as{"/usr/bin/tesvar"}, usage_shows{"tesvar"}},
      {&tesvar, {"-h"}, called_as{"//tesvar"}, usage_shows{"tesvar"}},
      {&tesvar, {"-h"}, called_as{"a\\b/tesvar"}, usage_shows{"tesvar"}},
      {&tesvar, {"-h"}, called_as{"a/b\\tesvar"}, usage_shows{"tesvar"}},
      {&tesvar, {"-h"}, called_as{"tools/"}, usage_shows{""}},
  };
  for (const usage_case& c : cases) {
    const std::vector<file_entry> files =
        with_stale_planes({{"a.bmp", input}, {"b.bmp", input}, {c.prog->default_file, input}});
    expect_refused({c.called.name + " " + ::testing::PrintToString(c.args), c.prog, c.args, files,
                    exits_with(1, usage_text(c.shown.name)), c.called.name});
  }
}

}  // namespace
