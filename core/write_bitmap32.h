#pragma once

#include <cstdint>

// Writes a contiguous working image of width x height pixels (4 bytes each,
// row 0 first, no padding) as an uncompressed 32-bit bitmap at path,
// creating or truncating the file. Returns 0 when every byte reached the
// file, -1 otherwise after printing "File '%s' cannot create." (the file
// could not be opened) or "File '%s' write error." (a write, flush or close
// failed, or the size does not fit the format; what was written stays).
int write_bitmap32(const char* path, const std::uint8_t* pixels, std::int64_t width,
                   std::int64_t height);

// The 54 header bytes write_bitmap32 puts in front of such an image.
void make_bitmap32_header(std::int32_t width, std::int32_t height, std::uint8_t* out);
