// Reading the input, run as a user would: files that cannot be opened or
// are too small end with the loader's message and status.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

TEST(ProgramLoading, FailuresPrintTheLoaderMessage) {
  const bytes header_only = [] {
    bytes b = build_bitmap(encode_24(known_colours(tesvar), rows_bottom_up));
    b.resize(54);
    return b;
  }();
  std::vector<refusal_case> cases = {
      {"missing input",
       &tesvar,
       {"missing.bmp", "out.bmp"},
       {},
       exits_with(11, "'missing.bmp' open error.\n")},
      {"empty argument is a file name", &tesvar, {""}, {}, exits_with(11, "'' open error.\n")},
      {"control bytes in the name are printed as octal escapes",
       &morvane,
       {"a\033[31m\n\x7f.bmp"},
       {},
       exits_with(11, "'a\\033[31m\\012\\177.bmp' open error.\n")},
      {"missing default file", &tesvar, {}, {}, exits_with(11, "'tesvar.bmp' open error.\n")},
      {"missing input with a name outside ASCII, printed as UTF-8",
       &tesvarex,
       {"\xE7\x94\xBB\xE5\x83\x8F.bmp"},
       {},
       exits_with(11, "'\xE7\x94\xBB\xE5\x83\x8F.bmp' open error.\n")},
      {"missing default file", &morvanex, {}, {}, exits_with(11, "'morvanex.bmp' open error.\n")},
      {"54-byte file",
       &tesvar,
       {"in.bmp", "out.bmp"},
       {{"in.bmp", header_only}},
       exits_with(13, "'in.bmp' file size erro. too small(54 Byte)\n")},
      {"empty file",
       &morvane,
       {"in.bmp", "out.bmp"},
       {{"in.bmp", {}}},
       exits_with(13, "'in.bmp' file size erro. too small(0 Byte)\n")},
      {"10-byte default file",
       &tesvarex,
       {},
       {{"tesvarex.bmp", bytes(10, 'B')}},
       exits_with(13, "'tesvarex.bmp' file size erro. too small(10 Byte)\n")},
  };
  if (on_windows) {
    cases.push_back({"an unpaired surrogate in the name, never taken for U+FFFD in its place",
                     &tesvarex,
                     {"a\xED\xA0\x80.bmp"},
                     {{"a\xEF\xBF\xBD.bmp", build_bitmap(two_by_two_24())}},
                     exits_with(11, "'a\xEF\xBF\xBD.bmp' open error.\n")});
  }
  for (const refusal_case& c : cases) {
    expect_refused({c.what, c.prog, c.args, with_stale_planes(c.files), c.end});
  }
}

}  // namespace
