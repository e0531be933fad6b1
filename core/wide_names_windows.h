// Windows takes names and console text as UTF-16; inside the programs they
// are UTF-8.
#pragma once

#include <cstddef>
#include <string>

// The UTF-16 form of count bytes of UTF-8 text; false (and *wide empty)
// when the text is not valid UTF-8.
bool to_wide_text(const char* utf8, std::size_t count, std::wstring* wide);

// The UTF-16 form of a UTF-8 name; false when it is not valid UTF-8.
bool to_wide_name(const char* utf8, std::wstring* wide);
