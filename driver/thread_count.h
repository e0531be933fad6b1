// How many threads a run may share its bands among: one per processor the
// process may run on, unless CONVERTERS_NUM_THREADS says otherwise.
#pragma once

#include "system/worker_threads.h"

// The name of the variable.
constexpr const char thread_count_variable[] = "CONVERTERS_NUM_THREADS";

// The variable's value when it is a whole number from 1 to most_worker_threads
// (decimal digits alone, as OMP_NUM_THREADS takes them); otherwise, unset,
// empty or anything else, the processors the process may use.
int converter_threads();

// The same rule for a given value (null for an unset variable) and
// processor count.
int thread_count_for(const char* value, int processors);
