#include "bitmap/unpack_rows.h"

#include <cstring>

#include "system/memory_word.h"

namespace {

void copy_pixel_24(const std::uint8_t* in, std::uint8_t* out) {
  out[0] = in[0];
  out[1] = in[1];
  out[2] = in[2];
  out[3] = 0;
}

}  // namespace

void unpack_row_32(const palette_view&, const std::uint8_t* in, std::uint8_t* out,
                   std::uint64_t width) {
  // The working image holds this row, so its byte count fits a size_t.
  std::memcpy(out, in, static_cast<std::size_t>(width * 4));
}

void unpack_row_24(const palette_view&, const std::uint8_t* in, std::uint8_t* out,
                   std::uint64_t width) {
  // Keeps blue, green and red of a word loaded from a stored pixel and
  // clears the byte that belongs to the next pixel.
  const std::uint32_t mask = word_of_bytes(0xFF, 0xFF, 0xFF, 0);
  // Each word load reads one byte past its pixel, which is still inside the
  // row for every pixel but the last.
  for (std::uint64_t x = 0; x + 1 < width; ++x, in += 3, out += 4) {
    std::uint32_t word = 0;
    std::memcpy(&word, in, 4);
    word &= mask;
    std::memcpy(out, &word, 4);
  }
  copy_pixel_24(in, out);
}

void unpack_row_8(const palette_view& palette, const std::uint8_t* in, std::uint8_t* out,
                  std::uint64_t width) {
  for (std::uint64_t x = 0; x < width; ++x, out += 4) {
    const std::uint8_t index = in[x];
    if (index < palette.count) {
      std::memcpy(out, palette.entries + 4u * index, 4);
    } else {
      std::memset(out, 0, 4);
    }
  }
}

void unpack_row_1(const palette_view& palette, const std::uint8_t* in, std::uint8_t* out,
                  std::uint64_t width) {
  for (std::uint64_t x = 0; x < width; ++x, out += 4) {
    // The most significant bit is the leftmost pixel.
    const bool set = (in[x / 8] & (0x80u >> (x % 8))) != 0;
    std::memcpy(out, palette.entries + (set ? 4 : 0), 4);
  }
}
