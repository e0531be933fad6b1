// The 54-byte header at the start of every bitmap file: a 14-byte file
// header followed by a 40-byte information header, all little-endian.
//
//   offset width field            offset width field
//    0     2     bf_type ("BM")     28    2     bi_bit_count
//    2     4     bf_size            30    4     bi_compression
//    6     2     bf_reserved1       34    4     bi_size_image
//    8     2     bf_reserved2       38    4     bi_x_pels_per_meter
//   10     4     bf_off_bits        42    4     bi_y_pels_per_meter
//   14     4     bi_size            46    4     bi_clr_used
//   18     4     bi_width (signed)  50    4     bi_clr_important
//   22     4     bi_height (signed; negative: top row stored first)
//   26     2     bi_planes
//
// A palette, when there is one, is a run of 4-byte entries (blue, green,
// red, reserved) up to bf_off_bits; it starts at byte 54, or after a larger
// information header of bi_size bytes (see locate_palette).
//
// The pixel rows follow from bf_off_bits, |bi_height| of them. A stored row
// of width pixels holds (width * bits + 7) / 8 bytes of pixels, padded to a
// multiple of 4 bytes (its stride).
#pragma once

#include <cstdint>

constexpr std::uint32_t file_header_bytes = 14;  // the information header follows
constexpr std::uint32_t info_header_bytes = 40;
constexpr std::uint32_t bitmap_header_bytes = file_header_bytes + info_header_bytes;
constexpr std::uint16_t bitmap_magic = 0x4D42;                 // "BM"
constexpr std::uint32_t palette_offset = bitmap_header_bytes;  // right after the header

struct bitmap_header {
  std::uint16_t bf_type;
  std::uint32_t bf_size;
  std::uint16_t bf_reserved1;
  std::uint16_t bf_reserved2;
  std::uint32_t bf_off_bits;
  std::uint32_t bi_size;
  std::int32_t bi_width;
  std::int32_t bi_height;
  std::uint16_t bi_planes;
  std::uint16_t bi_bit_count;
  std::uint32_t bi_compression;
  std::uint32_t bi_size_image;
  std::int32_t bi_x_pels_per_meter;
  std::int32_t bi_y_pels_per_meter;
  std::uint32_t bi_clr_used;
  std::uint32_t bi_clr_important;
};

// Parses the first 54 bytes of bytes; the caller guarantees they exist.
bitmap_header read_bitmap_header(const std::uint8_t* bytes);

// Stores header as 54 little-endian bytes at out.
void store_bitmap_header(const bitmap_header& header, std::uint8_t* out);

// |bi_height| without overflow: -2147483648 gives 2147483648.
std::uint32_t header_rows(const bitmap_header& header);

// |value| without overflow: INT64_MIN gives 2^63.
inline std::uint64_t magnitude(std::int64_t value) {
  return value < 0 ? 0u - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}
