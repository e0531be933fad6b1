// Where the pixel rows and the palette of a loaded bitmap lie and how many
// bytes of each row the unpacker reads (the stride rule is in
// bitmap_header.h).
#pragma once

#include <cstdint>

#include "bitmap/bitmap_header.h"
#include "bitmap/depth_formats.h"

// True for the depths the unpacker handles: those of the depth table. The
// fuzzers ask it; the programs ask find_depth_format.
bool is_supported_depth(std::uint16_t bit_count);

// Bytes of pixel data in one stored row (padding not counted); width > 0.
std::uint64_t row_pixel_bytes(const depth_format& format, std::int32_t width);

// Length of one stored row: row_pixel_bytes rounded up to a multiple of 4.
std::uint64_t row_stride(const depth_format& format, std::int32_t width);

// The palette the unpacker reads: count entries of 4 bytes from byte offset.
struct palette_location {
  std::uint64_t offset;
  std::uint32_t count;
};

// An indexed palette runs from the end of the information header up to the
// pixel rows when the header is one of the sizes whose palette follows it
// (52, 56, 108 or 124 bytes) and ends at or before the rows; otherwise from
// byte 54, with no entries when the rows start before byte 54. A two-entry
// palette is always the 8 bytes at byte 54; other depths have none.
palette_location locate_palette(const bitmap_header& header);

// True when every byte the unpacker will read, rows and palette alike,
// lies inside a block of size bytes. A header whose unpacking reads
// nothing (unsupported depth, width <= 0 or no rows) always fits.
bool pixel_rows_fit(const bitmap_header& header, std::uint64_t size);

// One past the last byte the unpacker reads, rows and palette alike; 0
// when it reads nothing (unsupported depth, width <= 0 or no rows).
std::uint64_t bitmap_bytes_unpacked(const bitmap_header& header);

// The most bytes of a file the header check and the unpacker look at: the
// end of the declared image, of the palette and of the last row. A file cut
// there is judged and converted as the whole file is.
std::uint64_t bitmap_bytes_used(const bitmap_header& header);

// What reading and unpacking the rows of a checked header need, worked out
// once from the header.
struct bitmap_layout {
  std::int32_t width;          // pixels per row (bi_width)
  std::uint64_t rows;          // |bi_height|
  const depth_format* format;  // null for a depth the programs refuse
  std::uint64_t pixel_offset;  // where the stored rows start (bf_off_bits)
  std::uint64_t stride;        // bytes from one stored row to the next
  std::uint64_t row_bytes;     // pixel bytes of a stored row, padding not counted
  bool bottom_up;              // the file stores the bottom row first
  palette_location palette;
};

// The layout of a header; stride and row_bytes are 0 when width <= 0 or the
// depth is refused.
bitmap_layout describe_layout(const bitmap_header& header);

// Where the stored rows of working rows first to first + count - 1 lie in
// the file: one run of bytes from *offset, *length long (the last stored
// row without its padding). count > 0, and the rows lie inside the image.
void locate_band(const bitmap_layout& layout, std::uint64_t first, std::uint64_t count,
                 std::uint64_t* offset, std::uint64_t* length);

// Where the stored bytes of pixels first_pixel to first_pixel + pixels - 1
// of working row row lie: *length bytes from *offset. first_pixel is a
// multiple of 8, so that a piece of a 1-bit row starts on a whole byte;
// pixels > 0, and the piece lies inside the image.
void locate_piece(const bitmap_layout& layout, std::uint64_t row, std::uint64_t first_pixel,
                  std::uint64_t pixels, std::uint64_t* offset, std::uint64_t* length);
