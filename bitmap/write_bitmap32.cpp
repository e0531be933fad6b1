#include "bitmap/write_bitmap32.h"

#include "bitmap/bitmap_header.h"
#include "bitmap/image_bytes.h"
#include "system/messages.h"
#include "system/status.h"

namespace {

bool fits_header_field(std::int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

}  // namespace

void make_bitmap32_header(std::int32_t width, std::int32_t height, std::uint8_t* out) {
  // Each magnitude is at most 2^31, so their product cannot wrap.
  const std::uint64_t pixel_count = magnitude(width) * magnitude(height);
  // The size fields are 32 bits wide; an image too large for them has both
  // left 0, which readers take as "size implied by the dimensions".
  const bool sizes_fit = pixel_count <= (UINT32_MAX - bitmap_header_bytes) / 4;
  const std::uint64_t pixel_bytes = sizes_fit ? pixel_count * 4 : 0;
  bitmap_header h{};
  h.bf_type = bitmap_magic;
  h.bf_size = sizes_fit ? static_cast<std::uint32_t>(pixel_bytes + bitmap_header_bytes) : 0;
  h.bf_off_bits = bitmap_header_bytes;
  h.bi_size = info_header_bytes;
  h.bi_width = width;
  h.bi_height = height;
  h.bi_planes = 1;
  h.bi_bit_count = 32;
  h.bi_size_image = static_cast<std::uint32_t>(pixel_bytes);
  store_bitmap_header(h, out);
}

int write_bitmap32(const char* path, const std::uint8_t* pixels, std::int64_t width,
                   std::int64_t height, output_name_kind kind) {
  std::uint64_t pixel_bytes = 0;
  if (!fits_header_field(width) || !fits_header_field(height) ||
      !compute_image_bytes(width, static_cast<std::int64_t>(magnitude(height)), 4, &pixel_bytes)) {
    print_name_message(message_id::write_error, path);
    return status::write_failed;
  }
  std::uint8_t header[bitmap_header_bytes];
  make_bitmap32_header(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), header);
  const output_piece pieces[] = {{header, bitmap_header_bytes}, {pixels, pixel_bytes}};
  return write_output_file(path, pieces, 2, kind);
}
