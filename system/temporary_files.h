// The temporary files of a run: each created beside the file it will
// replace, with a hidden name no other run can predict or share
// (.NAME.XXXXXX), renamed over that file once complete, and removed on
// every other way out, including the interrupts that end a run (see
// interrupt_cleanup.h), after which the process still ends as it would
// have. A run holds at most most_temporary_files of them, each in a slot
// whose record the interrupt cleanup reads: a slot is armed only while its
// name is complete and its file exists, and changes only while interrupts
// are held.
//
// The records are the process's, not a run's: a signal handler reaches no
// run's state, only memory that lives as long as the process, so the
// records where it finds the names to remove are kept here, for the one
// run a process makes.
#pragma once

#include <cstdio>

#include "system/file_system.h"

// Creates a new, empty temporary file beside the place's entry;
// private_file as for create_file_beside. Returns its stream and its slot
// in *slot, or null (errno set) when no such file can be created there.
std::FILE* create_temporary_file(const output_place& place, bool private_file, int* slot);

// Renames the temporary file in slot over the place's entry; true on
// success. Either way the temporary file no longer exists afterwards.
bool commit_temporary_file(int slot, const output_place& place);

// Removes the temporary file in slot, if it still exists.
void discard_temporary_file(int slot);
