// The pixel depths the programs read, in one table that every part of the
// bitmap format asks: whether a depth is supported, how long its stored rows are,
// whether they lie inside the file, how they are unpacked and which palette
// they use. A new depth needs its row here and a row unpacker
// (unpack_rows.h); the stride rule is in bitmap_header.h.
#pragma once

#include <cstdint>

#include "bitmap/unpack_rows.h"

enum class palette_use {
  none,         // the pixels hold their colours
  indexed,      // each pixel indexes the entries up to the pixel rows
  two_entries,  // each pixel picks entry 0 or 1 at byte 54 (two_palette_entries)
};

// The palette of a 1-bit picture: exactly this many 4-byte entries.
constexpr std::uint32_t two_palette_entries = 2;

struct depth_format {
  std::uint16_t bits;
  row_unpacker unpack_row;
  palette_use palette;
};

// The table's entry for bit_count, or null for a depth the programs refuse.
const depth_format* find_depth_format(std::uint16_t bit_count);
