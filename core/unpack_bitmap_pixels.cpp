#include "core/unpack_bitmap_pixels.h"

#include <cstring>

#include "core/bitmap_header.h"
#include "core/memory_word.h"
#include "core/pixel_rows.h"
#include "core/status.h"

namespace {

struct palette_view {
  const std::uint8_t* entries;  // byte 54 of the block
  std::uint32_t count;
};

void unpack_row_32(const palette_view&, const std::uint8_t* in, std::uint8_t* out,
                   std::uint64_t width) {
  std::memcpy(out, in, width * 4);
}

void copy_pixel_24(const std::uint8_t* in, std::uint8_t* out) {
  out[0] = in[0];
  out[1] = in[1];
  out[2] = in[2];
  out[3] = 0;
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

using row_unpacker = void (*)(const palette_view&, const std::uint8_t*, std::uint8_t*,
                              std::uint64_t);

row_unpacker row_unpacker_for(std::uint16_t bit_count) {
  switch (bit_count) {
    case 32:
      return unpack_row_32;
    case 24:
      return unpack_row_24;
    case 8:
      return unpack_row_8;
    case 1:
      return unpack_row_1;
    default:
      return nullptr;
  }
}

}  // namespace

int unpack_bitmap_pixels(const std::uint8_t* block, std::int64_t size, std::uint8_t* image) {
  if (block == nullptr || size <= bitmap_header_bytes) {
    return status::header_too_short;
  }
  const bitmap_header h = read_bitmap_header(block);
  const row_unpacker unpack_row = row_unpacker_for(h.bi_bit_count);
  if (unpack_row == nullptr) {
    return status::unsupported_depth;
  }
  const std::uint64_t rows = header_rows(h);
  if (h.bi_width <= 0 || rows == 0) {
    return status::ok;
  }
  if (!pixel_rows_fit(h, static_cast<std::uint64_t>(size))) {
    return status::header_sizes_inconsistent;
  }
  const auto width = static_cast<std::uint64_t>(h.bi_width);
  const palette_view palette{block + palette_offset, palette_entry_count(h)};
  const std::uint64_t stride = row_stride(h.bi_bit_count, h.bi_width);
  const bool bottom_up = h.bi_height > 0;
  for (std::uint64_t r = 0; r < rows; ++r) {
    // Working row 0 is the bottom row; a negative height stores it last.
    const std::uint64_t file_row = bottom_up ? r : rows - 1 - r;
    unpack_row(palette, block + h.bf_off_bits + file_row * stride, image + r * width * 4, width);
  }
  return status::ok;
}
