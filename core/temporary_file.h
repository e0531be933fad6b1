// The one temporary file a run may hold at a time: created beside the file
// it will replace, renamed over that file once complete, and removed on
// every other way out, including the interrupts that end a run (see
// interrupt_cleanup.h), after which the process still ends as it would
// have.
#pragma once

#include <cstdio>

// Creates a new, empty temporary file in the directory of final_path, with
// a hidden name no other run can predict or share. Returns its stream, or
// null (errno set) when no such file can be created there.
std::FILE* create_temporary_file(const char* final_path);

// Renames the temporary file over final_path; true on success. Either way
// the temporary file no longer exists afterwards.
bool commit_temporary_file(const char* final_path);

// Removes the temporary file.
void discard_temporary_file();
