// What the fuzz targets share: a private working directory for the files a
// run writes, and a failure that every fuzzer and the replay program treat
// as a finding.
#pragma once

#include <cstdint>
#include <string>

// Creates a fresh directory under /dev/shm (or the system's temporary
// directory) and makes it the
// working directory, so that plane and result files land there. The
// directory and its files are removed at exit. Aborts when it cannot.
void enter_fuzz_workdir();

// Aborts with message on the standard error stream unless holds is true.
// The fuzzers count an abort as a finding, so a status outside the
// documented set is reported like a crash.
void require(bool holds, const char* message);

// The size of the file at path, or -1 when there is none.
std::int64_t file_size_or_minus_one(const char* path);

// Removes the files a run may leave in the working directory.
void remove_run_outputs();
