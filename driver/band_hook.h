// Called by the run after each band of stored rows has been read, before it
// is converted; band counts from 0. Does nothing in the programs: a test
// that links its own definition can change the input between two bands.
#pragma once

#include <cstdint>

void after_band_read(const char* input_path, std::uint64_t band);
