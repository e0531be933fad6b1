// Names between Windows' UTF-16 and the programs' UTF-8: every argument
// kept exactly, and the literal form of temporary names.
#include "system/wide_names_windows.h"

#include <gtest/gtest.h>

#include <filesystem>
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

// What keeps a temporary name, 8 characters longer than the output's,
// within reach where a plain name stops at 260 characters (wine has no such
// limit to show).
TEST(WideNames, LiteralFormIsTheFullPathAfterItsPrefix) {
  std::wstring here = std::filesystem::current_path().make_preferred().wstring();
  here += here.back() == L'\\' ? L"" : L"\\";
  const struct {
    std::string name;
    std::wstring literal;
  } cases[] = {
      {"dir/.out.bmp.AbCdEf", L"\\\\?\\" + here + L"dir\\.out.bmp.AbCdEf"},
      {"C:\\dir\\sub\\..\\.x.AbCdEf", L"\\\\?\\C:\\dir\\.x.AbCdEf"},
      {"\\\\server\\share\\.x.AbCdEf", L"\\\\?\\UNC\\server\\share\\.x.AbCdEf"},
      {"\\\\?\\C:\\dir\\..\\x", L"\\\\?\\C:\\dir\\..\\x"},
  };
  const auto wide = std::make_unique<wide_name>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(to_literal_wide_name(c.name.c_str(), wide.get()));
    EXPECT_EQ(std::wstring(wide->text), c.literal);
  }
}

}  // namespace
