#include "bitmap/check_bitmap_header.h"

#include "bitmap/bitmap_header.h"
#include "bitmap/depth_formats.h"
#include "bitmap/pixel_rows.h"
#include "system/messages.h"
#include "system/status.h"

namespace {

// width * rows * (bit count / 8), with a negative product (negative width,
// rows and bytes per pixel both non-zero) standing for a very large number.
// Saturates instead of wrapping.
std::uint64_t declared_pixel_bytes(const bitmap_header& h) {
  const std::uint64_t rows = header_rows(h);
  const std::uint64_t bytes_per_pixel = h.bi_bit_count / 8u;
  if (rows == 0 || bytes_per_pixel == 0 || h.bi_width == 0) {
    return 0;
  }
  if (h.bi_width < 0) {
    return UINT64_MAX;
  }
  // width < 2^31 and rows <= 2^31, so width * rows fits; the byte count per
  // pixel is below 2^13, so check before multiplying again.
  const std::uint64_t pixels = static_cast<std::uint64_t>(h.bi_width) * rows;
  if (pixels > UINT64_MAX / bytes_per_pixel) {
    return UINT64_MAX;
  }
  return pixels * bytes_per_pixel;
}

bool sizes_consistent(const bitmap_header& h, std::uint64_t size) {
  if (h.bi_size_image == 0) {
    return true;
  }
  const std::uint64_t declared_end = std::uint64_t{h.bf_off_bits} + h.bi_size_image;
  return size >= declared_end && h.bi_size_image >= declared_pixel_bytes(h);
}

// The palette count as the messages print it: the unsigned 32-bit
// difference shifted right by 2, even when bf_off_bits is below 54.
std::uint32_t printed_palette_count(const bitmap_header& h) {
  return (h.bf_off_bits - palette_offset) >> 2;
}

void print_palette_message(message_id id, const bitmap_header& h) {
  message_values values;
  values.first = h.bf_off_bits;
  values.second = printed_palette_count(h);
  print_message(id, values);
}

// The depth's rule on where the pixels start, and the status it gives
// (nothing printed).
int depth_and_offset_status(const bitmap_header& h) {
  switch (h.bi_bit_count) {
    case 32:
      return h.bf_off_bits == palette_offset ? status::ok : status::header_32bit_offset;
    case 24:
      return h.bf_off_bits == palette_offset ? status::ok : status::header_24bit_offset;
    case 8:
      return ((h.bf_off_bits - palette_offset) & 3u) != 0 ? status::header_8bit_palette
                                                          : status::ok;
    case 1:
      return h.bf_off_bits != palette_offset + 4 * two_palette_entries ? status::header_1bit_palette
                                                                       : status::ok;
    default:
      return status::ok;  // the unpacker refuses other depths
  }
}

int check_depth_and_offset(const bitmap_header& h) {
  const int result = depth_and_offset_status(h);
  if (result == status::header_8bit_palette) {
    print_palette_message(message_id::palette_8bit, h);
  } else if (result == status::header_1bit_palette) {
    print_palette_message(message_id::palette_1bit, h);
  }
  return result;
}

// The first rules: a bitmap at all, and one of one plane, uncompressed.
int check_kind(const bitmap_header& h) {
  if (h.bf_type != bitmap_magic || h.bf_reserved1 != 0 || h.bf_reserved2 != 0) {
    return status::header_not_bitmap;
  }
  if (h.bi_planes != 1 || h.bi_compression != 0) {
    return status::header_planes_or_compression;
  }
  return status::ok;
}

}  // namespace

int check_bitmap_header(const std::uint8_t* block, std::int64_t size) {
  if (block == nullptr || size <= bitmap_header_bytes) {
    return status::header_too_short;
  }
  return check_header_fields(read_bitmap_header(block), static_cast<std::uint64_t>(size));
}

int check_header_fields(const bitmap_header& h, std::uint64_t file_size) {
  const int kind = check_kind(h);
  if (kind != status::ok) {
    return kind;
  }
  if (!sizes_consistent(h, file_size)) {
    return status::header_sizes_inconsistent;
  }
  const int depth_status = check_depth_and_offset(h);
  if (depth_status != status::ok) {
    return depth_status;
  }
  if (!pixel_rows_fit(h, file_size)) {
    return status::header_sizes_inconsistent;
  }
  return status::ok;
}

bool refused_at_every_length(const bitmap_header& h) {
  if (check_kind(h) != status::ok) {
    return true;
  }
  // A declared size decides the length's first rule only by how it stands
  // against the pixels; the depth's rules then refuse at every length that
  // rule lets through.
  if (h.bi_size_image != 0 && h.bi_size_image < declared_pixel_bytes(h)) {
    return true;
  }
  return depth_and_offset_status(h) != status::ok || find_depth_format(h.bi_bit_count) == nullptr;
}
