#include "core/pixel_rows.h"

bool is_supported_depth(std::uint16_t bit_count) {
  return bit_count == 1 || bit_count == 8 || bit_count == 24 || bit_count == 32;
}

std::uint64_t row_pixel_bytes(std::uint16_t bit_count, std::int32_t width) {
  const auto w = static_cast<std::uint64_t>(width);
  if (bit_count == 1) {
    return (w + 7) / 8;
  }
  return w * (bit_count / 8u);
}

std::uint64_t row_stride(std::uint16_t bit_count, std::int32_t width) {
  return (row_pixel_bytes(bit_count, width) + 3) & ~std::uint64_t{3};
}

bool pixel_rows_fit(const bitmap_header& header, std::uint64_t size) {
  const std::uint64_t rows = header_rows(header);
  if (!is_supported_depth(header.bi_bit_count) || header.bi_width <= 0 || rows == 0) {
    return true;
  }
  // The last row ends at bf_off_bits + (rows - 1) * stride + row bytes; every
  // step subtracts from what is known to remain, so nothing can wrap.
  const std::uint64_t offset = header.bf_off_bits;
  const std::uint64_t read_per_row = row_pixel_bytes(header.bi_bit_count, header.bi_width);
  const std::uint64_t stride = row_stride(header.bi_bit_count, header.bi_width);
  if (offset > size || read_per_row > size - offset) {
    return false;
  }
  // A 1-bit file reads both palette entries whatever its offset says; an
  // 8-bit one only entries below bf_off_bits.
  if (header.bi_bit_count == 1 && size < palette_offset + 8) {
    return false;
  }
  if (rows == 1) {
    return true;
  }
  const std::uint64_t room = size - offset - read_per_row;
  return stride <= room / (rows - 1);
}

std::uint32_t palette_entry_count(const bitmap_header& header) {
  if (header.bf_off_bits < palette_offset) {
    return 0;
  }
  return (header.bf_off_bits - palette_offset) / 4;
}
