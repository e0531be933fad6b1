#pragma once

#include <cstdint>

#include "system/write_output_file.h"

// The whole-image form, which the tests, the fuzzers and the benchmarks use;
// the programs stream bands and never call it.
// Writes a contiguous working image of width x height pixels (4 bytes each,
// row 0 first, no padding) as an uncompressed 32-bit bitmap at path,
// replacing what stood there only once the whole file is written (see
// write_output_file for what kind allows). Returns 0 when every byte
// reached the file, status::write_failed otherwise after printing the
// message cannot_create or write_error (the latter also when the size does
// not fit the format); path then holds what it held before.
int write_bitmap32(const char* path, const std::uint8_t* pixels, std::int64_t width,
                   std::int64_t height, output_name_kind kind);

// The 54 header bytes write_bitmap32 puts in front of such an image.
void make_bitmap32_header(std::int32_t width, std::int32_t height, std::uint8_t* out);
