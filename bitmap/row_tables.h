// Row-by-row access to a contiguous pixel block: entry r of a row table
// points at byte r * width * element_size of the block.
#pragma once

#include <cstdint>

#include "bitmap/image_bytes.h"

// A row table over an existing block, as its own std::malloc allocation
// that the caller frees; the block stays the caller's. Null when block is
// null, any count is 0 or less, or memory runs out.
std::uint8_t** make_row_table(std::uint8_t* block, std::int64_t width, std::int64_t element_size,
                              std::int64_t rows);

// The whole-image form, which the tests, the fuzzers and the benchmarks use;
// the programs stream bands and never call it.
// One zeroed allocation holding a row table of rows entries followed by
// the width x rows x element_size pixel area that entry 0 points at.
// Released with a single std::free of the returned pointer. Null when any
// count is 0 or less or memory runs out.
std::uint8_t** alloc_image2d(std::int64_t element_size, std::int64_t width, std::int64_t rows);
