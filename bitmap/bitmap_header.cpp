#include "bitmap/bitmap_header.h"

namespace {

std::uint16_t read_u16le(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(p[0]) |
                                    (static_cast<std::uint32_t>(p[1]) << 8));
}

std::uint32_t read_u32le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t read_s32le(const std::uint8_t* p) {
  // Two's complement reinterpretation, defined for every bit pattern.
  const std::uint32_t u = read_u32le(p);
  return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

void store_u16le(std::uint16_t value, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(value & 0xFFu);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

void store_u32le(std::uint32_t value, std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
  }
}

void store_s32le(std::int32_t value, std::uint8_t* p) {
  store_u32le(static_cast<std::uint32_t>(value), p);
}

}  // namespace

bitmap_header read_bitmap_header(const std::uint8_t* bytes) {
  bitmap_header h{};
  h.bf_type = read_u16le(bytes + 0);
  h.bf_size = read_u32le(bytes + 2);
  h.bf_reserved1 = read_u16le(bytes + 6);
  h.bf_reserved2 = read_u16le(bytes + 8);
  h.bf_off_bits = read_u32le(bytes + 10);
  h.bi_size = read_u32le(bytes + 14);
  h.bi_width = read_s32le(bytes + 18);
  h.bi_height = read_s32le(bytes + 22);
  h.bi_planes = read_u16le(bytes + 26);
  h.bi_bit_count = read_u16le(bytes + 28);
  h.bi_compression = read_u32le(bytes + 30);
  h.bi_size_image = read_u32le(bytes + 34);
  h.bi_x_pels_per_meter = read_s32le(bytes + 38);
  h.bi_y_pels_per_meter = read_s32le(bytes + 42);
  h.bi_clr_used = read_u32le(bytes + 46);
  h.bi_clr_important = read_u32le(bytes + 50);
  return h;
}

void store_bitmap_header(const bitmap_header& h, std::uint8_t* out) {
  store_u16le(h.bf_type, out + 0);
  store_u32le(h.bf_size, out + 2);
  store_u16le(h.bf_reserved1, out + 6);
  store_u16le(h.bf_reserved2, out + 8);
  store_u32le(h.bf_off_bits, out + 10);
  store_u32le(h.bi_size, out + 14);
  store_s32le(h.bi_width, out + 18);
  store_s32le(h.bi_height, out + 22);
  store_u16le(h.bi_planes, out + 26);
  store_u16le(h.bi_bit_count, out + 28);
  store_u32le(h.bi_compression, out + 30);
  store_u32le(h.bi_size_image, out + 34);
  store_s32le(h.bi_x_pels_per_meter, out + 38);
  store_s32le(h.bi_y_pels_per_meter, out + 42);
  store_u32le(h.bi_clr_used, out + 46);
  store_u32le(h.bi_clr_important, out + 50);
}

std::uint32_t header_rows(const bitmap_header& header) {
  return static_cast<std::uint32_t>(magnitude(header.bi_height));  // at most 2^31
}
