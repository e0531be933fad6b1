// Builds bitmap files for the tests byte by byte, independently of the
// production header code, so that a layout mistake there cannot cancel
// out here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct test_bitmap {
  std::uint16_t type = 0x4D42;
  std::uint32_t file_size = 0;  // bfSize; 0 means "fill in the real size"
  std::uint16_t reserved1 = 0;
  std::uint16_t reserved2 = 0;
  std::int64_t off_bits = -1;  // bfOffBits; -1 means 54 + palette bytes
  std::uint32_t info_size = 40;
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint16_t planes = 1;
  std::uint16_t bit_count = 24;
  std::uint32_t compression = 0;
  std::uint32_t size_image = 0;
  std::vector<std::uint8_t> palette;  // raw bytes placed at offset 54
  std::vector<std::uint8_t> pixels;   // raw bytes placed after the palette
};

// The file's bytes: header, palette, pixels, in that order.
std::vector<std::uint8_t> build_bitmap(const test_bitmap& spec);

// Stored rows (file order) with each row padded to a multiple of 4 bytes.
std::vector<std::uint8_t> pad_rows(const std::vector<std::vector<std::uint8_t>>& rows);

// A palette of the given (blue, green, red, reserved) entries.
std::vector<std::uint8_t> palette_of(const std::vector<std::vector<std::uint8_t>>& entries);

// A 24-bit bitmap of width x height with a colourful, deterministic
// pattern, bottom row first.
test_bitmap sample_bitmap_24(std::int32_t width, std::int32_t height);

// Writes bytes to path (UTF-8, as are all paths in the tests); returns
// false on any failure.
bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The whole file at path (empty if it cannot be read).
std::vector<std::uint8_t> read_file(const std::string& path);

// Little-endian fields of a byte vector.
std::uint32_t u32_at(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::uint16_t u16_at(const std::vector<std::uint8_t>& bytes, std::size_t offset);
void put_u32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);
