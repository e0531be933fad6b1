#pragma once

#include <cstdint>

// Reads the whole file at path into one block from alloc_large_block. A
// pipe or socket, which has no size to ask for, is read until it ends or
// has given every byte its header lets the run look at (bitmap_bytes_used;
// just past the header when it is no bitmap), and the rest is left unread.
// On status 0 the block holds the bytes read and *size their count (a
// pipe's block may be larger than that); the caller frees the block with
// std::free.
// On any failure both stay null and 0, and the message is printed here:
//   11 "'%s' open error."      12 "'%s' stat error."
//   13 "'%s' file size erro. too small(%d Byte)"  (54 bytes or fewer)
//   14 "Couldn't allocate memory."                15 "'%s' read error."
int load_bitmap_file(const char* path, std::uint8_t** block, std::int64_t* size);

// True when path (the name itself, or the file a link there leads to) is the
// file the last call of load_bitmap_file opened.
bool names_loaded_file(const char* path);
