#include "bitmap/unpack_bitmap_pixels.h"

#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bitmap_builder.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t untouched = 0xAB;

// Unpacks spec into a working image pre-filled with a marker byte.
bytes unpack(const test_bitmap& spec, int* status, std::size_t pixels) {
  const bytes file = build_bitmap(spec);
  bytes image(pixels * 4, untouched);
  *status = unpack_bitmap_pixels(file.data(), static_cast<std::int64_t>(file.size()), image.data());
  return image;
}

bytes unpack_ok(const test_bitmap& spec) {
  int status = -1;
  bytes image = unpack(spec, &status,
                       static_cast<std::size_t>(spec.width) *
                           static_cast<std::size_t>(spec.height < 0 ? -spec.height : spec.height));
  EXPECT_EQ(status, 0);
  return image;
}

TEST(UnpackBitmapPixels, TwentyFourBitSkipsPaddingAndClearsFourthByte) {
  test_bitmap b;
  b.width = 1;
  b.height = 2;
  b.pixels = pad_rows({{1, 2, 3}, {4, 5, 6}});  // padding byte is 0xEE
  EXPECT_EQ(b.pixels.size(), 8u);
  EXPECT_EQ(unpack_ok(b), (bytes{1, 2, 3, 0, 4, 5, 6, 0}));
}

TEST(UnpackBitmapPixels, TwentyFourBitRowsWithoutPaddingEndAtTheLastPixel) {
  // 4 pixels make a 12-byte row with no padding, so the file ends with the
  // last pixel's red byte; every byte differs so a shifted copy shows.
  test_bitmap b;
  b.width = 4;
  b.height = 2;
  for (std::uint8_t v = 1; v <= 24; ++v) {
    b.pixels.push_back(v);
  }
  ASSERT_EQ(build_bitmap(b).size(), 54u + 24u);
  const bytes want = {1,  2,  3,  0, 4,  5,  6,  0, 7,  8,  9,  0, 10, 11, 12, 0,
                      13, 14, 15, 0, 16, 17, 18, 0, 19, 20, 21, 0, 22, 23, 24, 0};
  EXPECT_EQ(unpack_ok(b), want);
}

TEST(UnpackBitmapPixels, RowOrderFollowsTheSignOfTheHeight) {
  test_bitmap b;
  b.width = 2;
  b.height = 2;
  b.pixels = pad_rows({{1, 1, 1, 2, 2, 2}, {3, 3, 3, 4, 4, 4}});
  const bytes bottom_up = unpack_ok(b);
  EXPECT_EQ(bottom_up, (bytes{1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0, 4, 4, 4, 0}));
  b.height = -2;  // first stored row is the top one: working row 1
  EXPECT_EQ(unpack_ok(b), (bytes{3, 3, 3, 0, 4, 4, 4, 0, 1, 1, 1, 0, 2, 2, 2, 0}));
}

TEST(UnpackBitmapPixels, ThirtyTwoBitKeepsTheFourthByte) {
  test_bitmap b;
  b.width = 3;
  b.height = -1;
  b.bit_count = 32;
  b.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(unpack_ok(b), b.pixels);
}

TEST(UnpackBitmapPixels, EightBitLooksUpThePalette) {
  test_bitmap b;
  b.width = 5;
  b.height = 1;
  b.bit_count = 8;
  b.palette = palette_of({{10, 11, 12, 13}, {20, 21, 22, 23}, {30, 31, 32, 33}});
  b.pixels = pad_rows({{2, 0, 3, 255, 1}});  // 3 equals the entry count: no entry
  EXPECT_EQ(unpack_ok(b),
            (bytes{30, 31, 32, 33, 10, 11, 12, 13, 0, 0, 0, 0, 0, 0, 0, 0, 20, 21, 22, 23}));
}

TEST(UnpackBitmapPixels, EightBitPaletteFollowsALargerInformationHeader) {
  // Between byte 54 and the three real entries lie gap bytes: the rest of a
  // larger information header, or whatever the file holds there. Each gap
  // byte is 0x80 + its distance from byte 54, so an entry read from the
  // wrong place shows.
  struct header_case {
    std::uint32_t info_size;
    std::size_t gap;
    std::size_t want_start;  // first palette byte, counted from byte 54
    std::uint32_t want_count;
  };
  const header_case cases[] = {
      {40, 0, 0, 3},    {52, 12, 12, 3}, {56, 16, 16, 3},  {108, 68, 68, 3},
      {124, 84, 84, 3}, {124, 0, 0, 3},  {124, 68, 0, 20},  // rows before the header's end
      {100, 48, 0, 15}, {64, 12, 0, 6},  {16, 0, 0, 3},     // sizes without a palette rule
  };
  const bytes entries = palette_of({{10, 11, 12, 13}, {20, 21, 22, 23}, {30, 31, 32, 33}});
  for (const header_case& c : cases) {
    test_bitmap b;
    b.info_size = c.info_size;
    b.width = 5;
    b.height = 1;
    b.bit_count = 8;
    for (std::size_t i = 0; i < c.gap; ++i) {
      b.palette.push_back(static_cast<std::uint8_t>(0x80 + i));
    }
    b.palette.insert(b.palette.end(), entries.begin(), entries.end());
    b.pixels = pad_rows({{2, 0, 20, 255, 1}});
    bytes want;
    for (const std::size_t index : {2u, 0u, 20u, 255u, 1u}) {
      for (std::size_t k = 0; k < 4; ++k) {
        want.push_back(index < c.want_count ? b.palette[c.want_start + 4 * index + k]
                                            : std::uint8_t{0});
      }
    }
    EXPECT_EQ(unpack_ok(b), want) << "header of " << c.info_size << " bytes, gap " << c.gap;
  }
}

TEST(UnpackBitmapPixels, EightBitWithoutPaletteGivesZeros) {
  for (std::int64_t offset : {54, 50, 2}) {
    test_bitmap b;
    b.width = 2;
    b.height = 1;
    b.bit_count = 8;
    b.pixels = {0, 1, 2, 3, 4, 5, 6, 7};
    b.off_bits = offset;  // below 54 the rows start inside the header
    EXPECT_EQ(unpack_ok(b), bytes(8, 0)) << "offset " << offset;
  }
}

TEST(UnpackBitmapPixels, OneBitTakesTheMostSignificantBitFirst) {
  test_bitmap b;
  b.width = 10;
  b.height = 1;
  b.bit_count = 1;
  b.palette = palette_of({{1, 2, 3, 4}, {5, 6, 7, 8}});
  b.pixels = pad_rows({{0x80, 0x40}});
  bytes want;
  for (int x = 0; x < 10; ++x) {
    const bool set = x == 0 || x == 9;
    const bytes entry = set ? bytes{5, 6, 7, 8} : bytes{1, 2, 3, 4};
    want.insert(want.end(), entry.begin(), entry.end());
  }
  EXPECT_EQ(unpack_ok(b), want);
}

TEST(UnpackBitmapPixels, EmptyImagesWriteNothing) {
  struct empty_case {
    std::int32_t width, height;
    std::uint16_t bit_count;
    int want_status;
  };
  const empty_case cases[] = {{0, 2, 24, 0}, {-2, 2, 24, 0}, {2, 0, 32, 0},
                              {0, 2, 1, 0},  {2, 2, 16, 1},  {0, 0, 4, 1}};
  for (const empty_case& c : cases) {
    test_bitmap b;
    b.width = c.width;
    b.height = c.height;
    b.bit_count = c.bit_count;
    b.pixels = bytes(16, 9);
    int status = -1;
    const bytes image = unpack(b, &status, 4);
    EXPECT_EQ(status, c.want_status) << c.width << "x" << c.height << " at " << c.bit_count;
    EXPECT_EQ(image, bytes(16, untouched));
  }
}

TEST(UnpackBitmapPixels, RefusesRowsOutsideTheBlock) {
  test_bitmap b;
  b.width = 2;
  b.height = 3;
  b.pixels = pad_rows({{1, 1, 1, 2, 2, 2}, {3, 3, 3, 4, 4, 4}});  // one row short
  int status = -1;
  const bytes image = unpack(b, &status, 6);
  EXPECT_EQ(status, 4);
  EXPECT_EQ(image, bytes(24, untouched));
}

}  // namespace
