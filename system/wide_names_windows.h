// Windows takes names and console text as UTF-16; inside the programs they
// are UTF-8. The conversions fill fixed buffers, so that no name or message
// needs memory the run may not have.
#pragma once

#include <cstddef>

// A name in the form the wide-character calls take, with its terminating
// zero; room for the longest path the system knows.
struct wide_name {
  wchar_t text[32768];
  std::size_t length;  // units before the terminating zero
};

// The UTF-16 form of count bytes of UTF-8 text into out (capacity units, a
// terminating zero added); false when the text is not valid UTF-8 or does
// not fit. *units gets the count written, the zero not counted.
bool to_wide_text(const char* utf8, std::size_t count, wchar_t* out, std::size_t capacity,
                  std::size_t* units);

// The UTF-16 form of a UTF-8 name; false when it is not valid UTF-8 or too
// long for any path.
bool to_wide_name(const char* utf8, wide_name* wide);

// The UTF-16 form of a UTF-8 name that no path-length limit applies to: its
// full path after "\\?\" ("\\?\UNC\" for a share), which names what the
// plain name names. A name already in that form or in the device form
// ("\\.\") is kept. False as for to_wide_name, or when there is no full path.
bool to_literal_wide_name(const char* utf8, wide_name* wide);

// The UTF-8 form of a command-line argument, which keeps every argument
// exactly: a surrogate without its partner, which Windows allows in a name,
// is written as the three bytes of its code point (ED A0 80 to ED BF BF).
// Valid UTF-8 never holds those, so such a name is never opened or created
// (to_wide_name refuses it). Writes the bytes and a terminating zero to out
// when out is not null; returns the count of bytes, the zero not counted.
std::size_t to_argument_utf8(const wchar_t* argument, char* out);

// Replaces in place each surrogate written as to_argument_utf8 writes it
// with U+FFFD (EF BF BD, as many bytes), so that a name that holds one is
// shown as Windows shows such a name.
void show_unpaired_surrogates(char* bytes, std::size_t count);
