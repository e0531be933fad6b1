// The descriptors the program was handed when it started. A caller may
// leave any of them closed (a daemon, a cron job, "2>&-"); then the first
// file the program opens would take that number, and a message meant for
// the standard error stream, or a descriptor name such as /dev/stdout, would
// reach that file instead. So the closed standard ones are occupied at once,
// and a descriptor name counts only for a descriptor handed over open.
//
// Every descriptor the program opens itself is close-on-exec, and none
// handed across an exec is, so the two are told apart at any time.
//
// What was found closed at the start is the process's to remember, as the
// descriptors themselves are.
#pragma once

#include "system/output_rules.h"

// Called first, before anything is opened: each of descriptors 0, 1 and 2
// that is closed is opened on the null device, for reading (0) or writing
// (1, 2), so that no file of the program's can take its number. Windows has
// the same for the C library's descriptors 0 to 2.
void occupy_closed_standard_descriptors();

// True when occupy_closed_standard_descriptors found one of them closed.
bool standard_descriptor_was_closed();

// How descriptor number stood when the program started: closed (or opened
// by the program since), open only for reading, or open for writing.
descriptor_start handed_descriptor(int number);
