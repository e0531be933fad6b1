// The size arithmetic of a run's images: how many bytes width x rows
// elements take, without wrap-around.
#pragma once

#include <cstdint>

// The largest block the programs ask for: half of what a size_t counts, so
// that any sum of two such sizes still fits.
constexpr std::uint64_t max_block_bytes = SIZE_MAX / 2;

// width * rows * element_size in *bytes. A zero count gives 0 whatever the
// others are; otherwise false when the product is negative or too large for
// any block of memory.
bool compute_image_bytes(std::int64_t width, std::int64_t rows, std::int64_t element_size,
                         std::uint64_t* bytes);
