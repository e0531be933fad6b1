#pragma once

#include "convert/channel_planes.h"
#include "driver/conversion.h"

// One whole run of a converter: command line, input, header check, then the
// pixels from the input through the conversion to the planes (when planes
// names channel_plane_count of them; null for none) and the result, in
// bands of rows, in one pass. Returns the exit status.
int run_converter(int argc, const char* const* argv, const char* default_name,
                  const conversion& convert, const channel_plane* planes);
