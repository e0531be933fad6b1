// The names of temporary files: hidden, beside the file they will replace
// (.NAME.XXXXXX), the X's replaced by letters no other run can predict.
// The same on every system; each system's file layer fills in the letters
// from its own random numbers.
#pragma once

#include <cstddef>

// How many random bytes, and so letters, replace a name's "XXXXXX".
constexpr int random_name_letters = 6;

// The letters for random_name_letters random bytes: one of 62 letters and
// digits each.
void letters_from_random_bytes(const unsigned char* random, char* letters);

// Writes DIRECTORY/.NAME.XXXXXX into pattern (path_buffer_bytes long) for
// entry = DIRECTORY/NAME (or NAME alone): the name of a temporary file
// beside entry before its "XXXXXX" is replaced. A long NAME is shortened
// so that the whole stays within the usual 255-byte limit. False when it
// does not fit or NAME is empty.
bool make_temporary_pattern(const char* entry, char* pattern);
