// Where the pixel rows of a loaded bitmap lie and how many bytes of each
// row the unpacker reads. Rows are stored padded to a multiple of 4 bytes.
#pragma once

#include <cstdint>

#include "core/bitmap_header.h"

// True for the depths the unpacker handles: 1, 8, 24 and 32 bits per pixel.
bool is_supported_depth(std::uint16_t bit_count);

// Bytes of pixel data in one stored row (padding not counted); width > 0
// and a supported depth.
std::uint64_t row_pixel_bytes(std::uint16_t bit_count, std::int32_t width);

// Length of one stored row: row_pixel_bytes rounded up to a multiple of 4.
std::uint64_t row_stride(std::uint16_t bit_count, std::int32_t width);

// True when every byte the unpacker will read, rows and palette alike,
// lies inside a block of size bytes. A header whose unpacking reads
// nothing (unsupported depth, width <= 0 or no rows) always fits.
bool pixel_rows_fit(const bitmap_header& header, std::uint64_t size);

// Palette entries an 8-bit file carries: (bf_off_bits - 54) / 4, or none
// when the pixel rows start before byte 54.
std::uint32_t palette_entry_count(const bitmap_header& header);
