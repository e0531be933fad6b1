#pragma once

#include <cstdint>

#include "bitmap/bitmap_header.h"

// The whole-image form, which the tests, the fuzzers and the benchmarks use;
// the programs stream bands and never call it.
// Decides from the header and the block size whether the converters can
// work on a loaded bitmap. Changes nothing. Returns 0 when accepted, or the
// first failing rule's status, in this order: status::header_too_short (no
// block, or 54 bytes or fewer), header_not_bitmap, header_planes_or_compression,
// header_sizes_inconsistent (also for pixel rows outside the block),
// header_32bit_offset, header_24bit_offset, header_8bit_palette and
// header_1bit_palette. Only the last two print, their messages
// palette_8bit and palette_1bit.
int check_bitmap_header(const std::uint8_t* block, std::int64_t size);

// The same rules, but the first, for a header already parsed from a file of
// file_size bytes (more than 54).
int check_header_fields(const bitmap_header& header, std::uint64_t file_size);

// For a header whose file's length is not known yet (a stream): true when
// the rules refuse it whatever the length (more than 54 bytes) may turn out
// to be, an unsupported depth included, though which refusal may still
// depend on the length. Prints nothing.
bool refused_at_every_length(const bitmap_header& header);
