#include "bitmap/row_tables.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(MakeRowTable, PointsAtEachRowOfTheBlock) {
  std::vector<std::uint8_t> block(3 * 2 * 4);
  std::uint8_t** table = make_row_table(block.data(), 3, 4, 2);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table[0], block.data());
  EXPECT_EQ(table[1], block.data() + 12);
  std::free(table);
}

TEST(AllocImage2d, OneZeroedBlockWithTheTableInFront) {
  std::uint8_t** table = alloc_image2d(4, 3, 2);
  ASSERT_NE(table, nullptr);
  auto* start = reinterpret_cast<std::uint8_t*>(table);
  EXPECT_EQ(table[0], start + 2 * sizeof(std::uint8_t*));
  EXPECT_EQ(table[1], table[0] + 12);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(table[0][i], 0) << i;
  std::free(table);
}

TEST(RowTables, RefuseEmptyNegativeAndOversizedImages) {
  std::vector<std::uint8_t> block(64);
  struct bad_case {
    std::int64_t element_size, width, rows;
  };
  const bad_case cases[] = {{4, 0, 2},
                            {4, 3, 0},
                            {4, -1, 2},
                            {4, 3, -1},
                            {0, 3, 2},
                            {-4, 3, 2},
                            {4, INT64_MAX, 2},
                            {4, 2, INT64_MAX},
                            {4, INT64_MAX / 4 + 1, 1},
                            {4, std::int64_t{1} << 31, std::int64_t{1} << 31}};
  for (const bad_case& c : cases) {
    std::uint8_t** image = alloc_image2d(c.element_size, c.width, c.rows);
    std::uint8_t** table = make_row_table(block.data(), c.width, c.element_size, c.rows);
    EXPECT_EQ(image, nullptr) << c.element_size << " " << c.width << " " << c.rows;
    // A table over a block is only as large as the row count, so huge
    // dimensions may still fit; the empty and negative ones never do.
    if (c.width <= 0 || c.rows <= 0 || c.element_size <= 0) {
      EXPECT_EQ(table, nullptr);
    }
    std::free(image);
    std::free(table);
  }
  EXPECT_EQ(make_row_table(nullptr, 3, 4, 2), nullptr);
}

TEST(ComputeImageBytes, CountsOrRefusesWithoutWrapping) {
  std::uint64_t bytes = 1;
  EXPECT_TRUE(compute_image_bytes(3, 2, 4, &bytes));
  EXPECT_EQ(bytes, 24u);
  EXPECT_TRUE(compute_image_bytes(0, 5, 4, &bytes));
  EXPECT_EQ(bytes, 0u);
  // Counts above 2^31 are blocks only where size_t has 64 bits; with 32 bits
  // they are refused, 2^32 too, which would wrap to 0.
  const bool size_t_64 = std::numeric_limits<std::size_t>::max() > UINT32_MAX;
  EXPECT_EQ(compute_image_bytes(std::int64_t{1} << 17, std::int64_t{1} << 13, 4, &bytes),
            size_t_64);
  EXPECT_EQ(bytes, size_t_64 ? std::uint64_t{1} << 32 : 0u);
  EXPECT_EQ(compute_image_bytes(0x7FFFFFFF, std::int64_t{1} << 30, 4, &bytes), size_t_64);
  EXPECT_EQ(bytes, size_t_64 ? std::uint64_t{0x7FFFFFFF} << 32 : 0u);
  // The largest header gives nearly 2^64 bytes: more than any block can be.
  EXPECT_FALSE(compute_image_bytes(0x7FFFFFFF, std::int64_t{1} << 31, 4, &bytes));
  EXPECT_TRUE(compute_image_bytes(-2, 0, 4, &bytes));  // no rows: nothing to hold
  EXPECT_EQ(bytes, 0u);
  EXPECT_FALSE(compute_image_bytes(-2, 2, 4, &bytes));
  EXPECT_FALSE(compute_image_bytes(INT64_MAX, INT64_MAX, 4, &bytes));
  EXPECT_FALSE(compute_image_bytes(std::int64_t{1} << 32, std::int64_t{1} << 32, 4, &bytes));
}

}  // namespace
