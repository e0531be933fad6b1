#include "bitmap/bitmap_header.h"

#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bitmap_builder.h"

namespace {

TEST(BitmapHeader, ReadsEveryFieldLittleEndian) {
  test_bitmap b;
  b.file_size = 0x11223344;
  b.reserved1 = 0x5566;
  b.reserved2 = 0x7788;
  b.off_bits = 0x99AABBCC;
  b.info_size = 0x01020304;
  b.width = -2;
  b.height = INT32_MIN;
  b.planes = 0xFFFE;
  b.bit_count = 0x8001;
  b.compression = 0xDEADBEEF;
  b.size_image = 0x80000000;
  const std::vector<std::uint8_t> bytes = build_bitmap(b);
  const bitmap_header h = read_bitmap_header(bytes.data());
  EXPECT_EQ(h.bf_type, 0x4D42);
  EXPECT_EQ(h.bf_size, 0x11223344u);
  EXPECT_EQ(h.bf_reserved1, 0x5566);
  EXPECT_EQ(h.bf_reserved2, 0x7788);
  EXPECT_EQ(h.bf_off_bits, 0x99AABBCCu);
  EXPECT_EQ(h.bi_size, 0x01020304u);
  EXPECT_EQ(h.bi_width, -2);
  EXPECT_EQ(h.bi_height, INT32_MIN);
  EXPECT_EQ(h.bi_planes, 0xFFFE);
  EXPECT_EQ(h.bi_bit_count, 0x8001);
  EXPECT_EQ(h.bi_compression, 0xDEADBEEFu);
  EXPECT_EQ(h.bi_size_image, 0x80000000u);
  EXPECT_EQ(h.bi_x_pels_per_meter, 2835);
  EXPECT_EQ(header_rows(h), 2147483648u);
}

TEST(BitmapHeader, StoreIsTheInverseOfRead) {
  std::vector<std::uint8_t> bytes(54);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::vector<std::uint8_t> again(54);
  store_bitmap_header(read_bitmap_header(bytes.data()), again.data());
  EXPECT_EQ(again, bytes);
}

TEST(BitmapHeader, RowsAreTheMagnitudeOfTheHeight) {
  bitmap_header h{};
  const std::pair<std::int32_t, std::uint32_t> cases[] = {
      {0, 0u}, {5, 5u}, {-5, 5u}, {INT32_MAX, 2147483647u}, {INT32_MIN, 2147483648u}};
  for (const auto& c : cases) {
    h.bi_height = c.first;
    EXPECT_EQ(header_rows(h), c.second) << c.first;
  }
}

}  // namespace
