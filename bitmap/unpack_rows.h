// Row unpackers: each turns one stored row of width > 0 pixels into width
// working pixels of blue, green, red and a fourth byte. Only the pixel bytes
// of the row are read, never its padding.
#pragma once

#include <cstdint>

// The palette entries a row may look up: count entries of 4 bytes (blue,
// green, red, reserved) from entries on.
struct palette_view {
  const std::uint8_t* entries;
  std::uint32_t count;
};

using row_unpacker = void (*)(const palette_view& palette, const std::uint8_t* in,
                              std::uint8_t* out, std::uint64_t width);

// Copies all 4 stored bytes of each pixel.
void unpack_row_32(const palette_view& palette, const std::uint8_t* in, std::uint8_t* out,
                   std::uint64_t width);

// Copies blue, green and red and sets the fourth byte to 0.
void unpack_row_24(const palette_view& palette, const std::uint8_t* in, std::uint8_t* out,
                   std::uint64_t width);

// Copies the palette entry of each index byte; an index at or past the
// entry count gives 4 zero bytes.
void unpack_row_8(const palette_view& palette, const std::uint8_t* in, std::uint8_t* out,
                  std::uint64_t width);

// Copies entry 1 for a set bit and entry 0 for a clear one, the most
// significant bit first; the palette must hold both entries.
void unpack_row_1(const palette_view& palette, const std::uint8_t* in, std::uint8_t* out,
                  std::uint64_t width);
