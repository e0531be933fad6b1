#pragma once

#include <cstdint>

#include "bitmap/bitmap_header.h"

// Decides from the header and the block size whether the converters can
// work on a loaded bitmap. Changes nothing. Returns 0 when accepted, or the
// first failing rule's status: 1 no block or 54 bytes or fewer; 2 not "BM"
// or reserved words set; 3 planes not 1 or compressed; 4 size fields
// inconsistent or pixel rows outside the block; 5 and 6 32- and 24-bit with
// pixels not at byte 54; 7 an 8-bit palette that is not whole entries; 8 a
// 1-bit file without exactly two palette entries. Only 7 and 8 print.
int check_bitmap_header(const std::uint8_t* block, std::int64_t size);

// The same rules, but the first, for a header already parsed from a file of
// file_size bytes (more than 54).
int check_header_fields(const bitmap_header& header, std::uint64_t file_size);
