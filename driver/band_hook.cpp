#include "driver/band_hook.h"

void after_band_read(const char* /*input_path*/, std::uint64_t /*band*/) {}
