#include "core/unpack_bitmap_pixels.h"

#include "core/bitmap_header.h"
#include "core/pixel_rows.h"
#include "core/status.h"

int unpack_bitmap_pixels(const std::uint8_t* block, std::int64_t size, std::uint8_t* image) {
  if (block == nullptr || size <= bitmap_header_bytes) {
    return status::header_too_short;
  }
  const bitmap_header h = read_bitmap_header(block);
  const depth_format* format = find_depth_format(h.bi_bit_count);
  if (format == nullptr) {
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
  const palette_location where = locate_palette(h);
  const palette_view palette{block + where.offset, where.count};
  const std::uint64_t stride = row_stride(*format, h.bi_width);
  const bool bottom_up = h.bi_height > 0;
  for (std::uint64_t r = 0; r < rows; ++r) {
    // Working row 0 is the bottom row; a negative height stores it last.
    const std::uint64_t file_row = bottom_up ? r : rows - 1 - r;
    format->unpack_row(palette, block + h.bf_off_bits + file_row * stride, image + r * width * 4,
                       width);
  }
  return status::ok;
}
