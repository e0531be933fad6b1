#include "bitmap/pixel_rows.h"

namespace {

// Information headers that a palette of 4-byte entries follows directly:
// the 40-byte one with colour masks (52 and 56 bytes) and the two larger
// versions (108 and 124 bytes). The 40-byte header itself ends at byte 54.
bool palette_follows_header(std::uint32_t info_size) {
  return info_size == 52 || info_size == 56 || info_size == 108 || info_size == 124;
}

palette_location locate_indexed_palette(const bitmap_header& header) {
  const std::uint64_t offset = header.bf_off_bits;
  const std::uint64_t header_end = std::uint64_t{file_header_bytes} + header.bi_size;
  if (palette_follows_header(header.bi_size) && header_end <= offset) {
    return {header_end, static_cast<std::uint32_t>((offset - header_end) / 4)};
  }
  if (offset < palette_offset) {
    return {palette_offset, 0};
  }
  return {palette_offset, static_cast<std::uint32_t>((offset - palette_offset) / 4)};
}

}  // namespace

std::uint64_t bitmap_bytes_unpacked(const bitmap_header& header) {
  const depth_format* format = find_depth_format(header.bi_bit_count);
  const std::uint64_t rows = header_rows(header);
  if (format == nullptr || header.bi_width <= 0 || rows == 0) {
    return 0;
  }
  const palette_location palette = locate_palette(header);
  const std::uint64_t palette_end = palette.offset + std::uint64_t{palette.count} * 4;
  // A stride is below 2^33 (32 bits a pixel at most) and rows - 1 below
  // 2^31, so the product is below 2^64 - 2^34; the offset and a row's bytes
  // are below 2^33, so the sum cannot wrap.
  const std::uint64_t rows_end = std::uint64_t{header.bf_off_bits} +
                                 (rows - 1) * row_stride(*format, header.bi_width) +
                                 row_pixel_bytes(*format, header.bi_width);
  return palette_end > rows_end ? palette_end : rows_end;
}

bool is_supported_depth(std::uint16_t bit_count) { return find_depth_format(bit_count) != nullptr; }

std::uint64_t row_pixel_bytes(const depth_format& format, std::int32_t width) {
  // width < 2^31 and bits < 2^16, so the product fits.
  return (static_cast<std::uint64_t>(width) * format.bits + 7) / 8;
}

std::uint64_t row_stride(const depth_format& format, std::int32_t width) {
  return (row_pixel_bytes(format, width) + 3) & ~std::uint64_t{3};
}

palette_location locate_palette(const bitmap_header& header) {
  const depth_format* format = find_depth_format(header.bi_bit_count);
  if (format == nullptr || format->palette == palette_use::none) {
    return {palette_offset, 0};
  }
  if (format->palette == palette_use::two_entries) {
    return {palette_offset, two_palette_entries};
  }
  return locate_indexed_palette(header);
}

bool pixel_rows_fit(const bitmap_header& header, std::uint64_t size) {
  return bitmap_bytes_unpacked(header) <= size;
}

std::uint64_t bitmap_bytes_used(const bitmap_header& header) {
  const std::uint64_t image_end =
      header.bi_size_image != 0 ? std::uint64_t{header.bf_off_bits} + header.bi_size_image : 0;
  const std::uint64_t read_end = bitmap_bytes_unpacked(header);
  return image_end > read_end ? image_end : read_end;
}

bitmap_layout describe_layout(const bitmap_header& header) {
  bitmap_layout layout{};
  layout.width = header.bi_width;
  layout.rows = header_rows(header);
  layout.format = find_depth_format(header.bi_bit_count);
  layout.pixel_offset = header.bf_off_bits;
  layout.bottom_up = header.bi_height > 0;
  layout.palette = locate_palette(header);
  if (layout.format != nullptr && header.bi_width > 0) {
    layout.row_bytes = row_pixel_bytes(*layout.format, header.bi_width);
    layout.stride = row_stride(*layout.format, header.bi_width);
  }
  return layout;
}

void locate_band(const bitmap_layout& layout, std::uint64_t first, std::uint64_t count,
                 std::uint64_t* offset, std::uint64_t* length) {
  // Working row 0 is the bottom row; a top-down file stores it last, so its
  // band's rows come from the other end of the file, in the same order.
  const std::uint64_t lowest_stored = layout.bottom_up ? first : layout.rows - first - count;
  *offset = layout.pixel_offset + lowest_stored * layout.stride;
  *length = (count - 1) * layout.stride + layout.row_bytes;
}

void locate_piece(const bitmap_layout& layout, std::uint64_t row, std::uint64_t first_pixel,
                  std::uint64_t pixels, std::uint64_t* offset, std::uint64_t* length) {
  const std::uint64_t stored_row = layout.bottom_up ? row : layout.rows - 1 - row;
  const std::uint64_t bits = layout.format->bits;
  // A row's pixel bytes are below 2^33, so neither product nor sum wraps.
  *offset = layout.pixel_offset + stored_row * layout.stride + first_pixel * bits / 8;
  *length = (pixels * bits + 7) / 8;
}
