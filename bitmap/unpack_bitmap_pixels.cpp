#include "bitmap/unpack_bitmap_pixels.h"

#include "bitmap/bitmap_header.h"
#include "system/status.h"

void unpack_band(const bitmap_layout& layout, const palette_view& palette,
                 const std::uint8_t* stored, std::uint64_t count, std::uint8_t* band) {
  const auto width = static_cast<std::uint64_t>(layout.width);
  for (std::uint64_t i = 0; i < count; ++i) {
    // A top-down file holds the band's rows in the opposite order.
    const std::uint64_t stored_row = layout.bottom_up ? i : count - 1 - i;
    layout.format->unpack_row(palette, stored + stored_row * layout.stride, band + i * width * 4,
                              width);
  }
}

int unpack_bitmap_pixels(const std::uint8_t* block, std::int64_t size, std::uint8_t* image) {
  if (block == nullptr || size <= bitmap_header_bytes) {
    return status::header_too_short;
  }
  const bitmap_header h = read_bitmap_header(block);
  const bitmap_layout layout = describe_layout(h);
  if (layout.format == nullptr) {
    return status::unsupported_depth;
  }
  if (h.bi_width <= 0 || layout.rows == 0) {
    return status::ok;
  }
  if (!pixel_rows_fit(h, static_cast<std::uint64_t>(size))) {
    return status::header_sizes_inconsistent;
  }
  const palette_view palette{block + layout.palette.offset, layout.palette.count};
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  locate_band(layout, 0, layout.rows, &offset, &length);
  unpack_band(layout, palette, block + offset, layout.rows, image);
  return status::ok;
}
