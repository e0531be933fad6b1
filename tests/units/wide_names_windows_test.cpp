// Names between Windows' UTF-16 and the programs' UTF-8: every argument
// kept exactly.
#include "system/wide_names_windows.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

TEST(WideNames, ArgumentsAreKeptExactlyAndUnpairedSurrogatesNeverOpen) {
  const struct {
    std::wstring argument;
    std::string utf8;   // what the program is handed
    std::string shown;  // what a message shows
  } cases[] = {
      {L"\x753B\xD83D\xDE00.bmp", "\xE7\x94\xBB\xF0\x9F\x98\x80.bmp",
       "\xE7\x94\xBB\xF0\x9F\x98\x80.bmp"},  // U+753B, then U+1F600 as a pair
      {L"a\xD800.bmp", "a\xED\xA0\x80.bmp", "a\xEF\xBF\xBD.bmp"},
      {L"a\xDBFF", "a\xED\xAF\xBF", "a\xEF\xBF\xBD"},  // a first half at the end
      {L"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed
  };
  const auto wide = std::make_unique<wide_name>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    std::string utf8(to_argument_utf8(c.argument.c_str(), nullptr), 'x');
    EXPECT_EQ(to_argument_utf8(c.argument.c_str(), utf8.data()), c.utf8.size());
    EXPECT_EQ(utf8, c.utf8);
    const bool valid = c.utf8 == c.shown;
    ASSERT_EQ(to_wide_name(utf8.c_str(), wide.get()), valid);
    EXPECT_TRUE(!valid || std::wstring(wide->text, wide->length) == c.argument);
    show_unpaired_surrogates(utf8.data(), utf8.size());
    EXPECT_EQ(utf8, c.shown);
  }
}

}  // namespace
