// The room every path buffer of the file layer has.
#pragma once

#include <cstddef>

// Room for any path the programs build or keep, its terminating zero
// included: the longest path a plain open accepts, and a temporary name's
// additions to it.
constexpr std::size_t path_buffer_bytes = 4096 + 64;
