#include "bitmap/check_bitmap_header.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bitmap_builder.h"

namespace {

// 2 x 2 pixels; rows padded to 8 bytes (24-bit) or 4 bytes (8- and 1-bit).
test_bitmap valid_bitmap(std::uint16_t bit_count) {
  test_bitmap b;
  b.width = 2;
  b.height = 2;
  b.bit_count = bit_count;
  const std::size_t row_bytes = bit_count == 1 ? 1 : 2u * bit_count / 8u;
  b.pixels =
      pad_rows({std::vector<std::uint8_t>(row_bytes, 1), std::vector<std::uint8_t>(row_bytes, 2)});
  if (bit_count == 8) {
    b.palette = std::vector<std::uint8_t>(256 * 4, 7);
  } else if (bit_count == 1) {
    b.palette = std::vector<std::uint8_t>(8, 7);
  }
  return b;
}

struct header_case {
  const char* name;
  std::uint16_t bit_count;
  std::function<void(test_bitmap&)> change;
  int want_status;
  std::string want_message;
  std::function<void(std::vector<std::uint8_t>&)> change_bytes = nullptr;
};

const std::vector<header_case>& header_cases() {
  static const std::vector<header_case> cases = {
      {"valid 24-bit", 24, [](test_bitmap&) {}, 0, ""},
      {"valid 32-bit", 32, [](test_bitmap&) {}, 0, ""},
      {"valid 8-bit, 256 entries", 8, [](test_bitmap&) {}, 0, ""},
      {"valid 1-bit", 1, [](test_bitmap&) {}, 0, ""},
      {"bfSize and biSize ignored", 24,
       [](test_bitmap& b) {
         b.file_size = 1;
         b.info_size = 124;
       },
       0, ""},
      {"not BM", 24, [](test_bitmap& b) { b.type = 0x4142; }, 2, ""},
      {"reserved1 set", 24, [](test_bitmap& b) { b.reserved1 = 1; }, 2, ""},
      {"reserved2 set", 24, [](test_bitmap& b) { b.reserved2 = 0x8000; }, 2, ""},
      {"type checked before planes", 24,
       [](test_bitmap& b) {
         b.type = 0;
         b.planes = 0;
       },
       2, ""},
      {"planes 0", 24, [](test_bitmap& b) { b.planes = 0; }, 3, ""},
      {"planes 2", 24, [](test_bitmap& b) { b.planes = 2; }, 3, ""},
      {"bit fields, 32-bit", 32, [](test_bitmap& b) { b.compression = 3; }, 3, ""},
      {"run-length", 8, [](test_bitmap& b) { b.compression = 1; }, 3, ""},
      {"compression before sizes", 24,
       [](test_bitmap& b) {
         b.compression = 1;
         b.size_image = 1;
       },
       3, ""},
      {"size image without padding", 24, [](test_bitmap& b) { b.size_image = 12; }, 0, ""},
      {"size image with padding", 24, [](test_bitmap& b) { b.size_image = 16; }, 0, ""},
      {"size image past the file", 24, [](test_bitmap& b) { b.size_image = 17; }, 4, ""},
      {"size image below the pixels", 24, [](test_bitmap& b) { b.size_image = 11; }, 4, ""},
      {"negative width with size image", 24,
       [](test_bitmap& b) {
         b.width = -2;
         b.size_image = 16;
       },
       4, ""},
      {"1-bit: product is 0", 1, [](test_bitmap& b) { b.size_image = 1; }, 0, ""},
      {"1-bit: only the file size counts", 1, [](test_bitmap& b) { b.size_image = 9; }, 4, ""},
      // 65536 x 65536 x 4 wraps to 0 in 32 bits; it must not pass as 0.
      {"product past 2^32", 32,
       [](test_bitmap& b) {
         b.width = 65536;
         b.height = 65536;
         b.size_image = 4;
       },
       4, ""},
      {"product past 2^64", 32,
       [](test_bitmap& b) {
         b.width = 0x7FFFFFFF;
         b.height = INT32_MIN;
         b.size_image = 4;
       },
       4, ""},
      {"32-bit offset 58", 32, [](test_bitmap& b) { b.off_bits = 58; }, 5, ""},
      {"24-bit offset 58", 24, [](test_bitmap& b) { b.off_bits = 58; }, 6, ""},
      {"24-bit offset 50", 24, [](test_bitmap& b) { b.off_bits = 50; }, 6, ""},
      {"8-bit palette not whole entries", 8, [](test_bitmap& b) { b.off_bits = 54 + 256 * 4 - 2; },
       7, "Unexpected lut size. 1076, 255\n"},
      {"8-bit offset 52", 8, [](test_bitmap& b) { b.off_bits = 52; }, 7,
       "Unexpected lut size. 52, 1073741823\n"},
      {"8-bit offset 50, below the palette", 8, [](test_bitmap& b) { b.off_bits = 50; }, 0, ""},
      {"8-bit no palette", 8, [](test_bitmap& b) { b.palette.clear(); }, 0, ""},
      {"1-bit four entries", 1, [](test_bitmap& b) { b.palette.resize(16); }, 8,
       "Unexpected, requirement is 2, lut size. 70, 4\n"},
      {"1-bit no entries", 1, [](test_bitmap& b) { b.palette.clear(); }, 8,
       "Unexpected, requirement is 2, lut size. 54, 0\n"},
      {"16-bit passes", 16, [](test_bitmap&) {}, 0, ""},
      {"4-bit passes", 4, [](test_bitmap&) {}, 0, ""},
      {"24-bit width -2", 24, [](test_bitmap& b) { b.width = -2; }, 0, ""},
      {"24-bit height 0", 24, [](test_bitmap& b) { b.height = 0; }, 0, ""},
      {"24-bit width 0", 24, [](test_bitmap& b) { b.width = 0; }, 0, ""},
      {"16-bit huge, reads nothing", 16,
       [](test_bitmap& b) {
         b.width = 0x7FFFFFFF;
         b.height = 0x7FFFFFFF;
       },
       0, ""},
      {"top-down rows inside", 24, [](test_bitmap& b) { b.height = -2; }, 0, ""},
      {"last row without its padding", 24, [](test_bitmap& b) { b.pixels.resize(14); }, 0, ""},
      {"last row cut short", 24, [](test_bitmap& b) { b.pixels.resize(13); }, 4, ""},
      {"top-down last row cut short", 24,
       [](test_bitmap& b) {
         b.height = -2;
         b.pixels.resize(13);
       },
       4, ""},
      {"32-bit last pixel cut short", 32, [](test_bitmap& b) { b.pixels.resize(15); }, 4, ""},
      {"8-bit rows past the end", 8, [](test_bitmap& b) { b.pixels.resize(5); }, 4, ""},
      {"8-bit rows start past the end", 8,
       [](test_bitmap& b) {
         b.palette.clear();
         b.off_bits = 54 + 4 * 300;
       },
       4, ""},
      {"1-bit rows past the end", 1, [](test_bitmap& b) { b.pixels.resize(4); }, 4, ""},
      {"1-bit last row's padding missing", 1, [](test_bitmap& b) { b.pixels.resize(5); }, 0, ""},
      {"height 2^31 - 1 in a small file", 24, [](test_bitmap& b) { b.height = 0x7FFFFFFF; }, 4, ""},
      {"height -2^31 in a small file", 24, [](test_bitmap& b) { b.height = INT32_MIN; }, 4, ""},
      {"width 2^31 - 1 in a small file", 32, [](test_bitmap& b) { b.width = 0x7FFFFFFF; }, 4, ""},
      {"offset 2^32 - 1", 8, [](test_bitmap& b) { b.off_bits = 0xFFFFFFFF; }, 7,
       "Unexpected lut size. 4294967295, 1073741810\n"},
      {"8-bit offset 2^32 - 2, whole entries but far past the end", 8,
       [](test_bitmap& b) { b.off_bits = 0xFFFFFFFE; }, 4, ""},
  };
  return cases;
}

TEST(CheckBitmapHeader, TableOfCases) {
  for (const header_case& c : header_cases()) {
    test_bitmap b = valid_bitmap(c.bit_count);
    c.change(b);
    std::vector<std::uint8_t> bytes = build_bitmap(b);
    testing::internal::CaptureStderr();
    const int got = check_bitmap_header(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, c.want_status) << c.name;
    EXPECT_EQ(message, c.want_message) << c.name;
  }
}

TEST(CheckBitmapHeader, FixturesHaveTheirIntendedSizes) {
  EXPECT_EQ(build_bitmap(valid_bitmap(24)).size(), 54u + 16u);
  EXPECT_EQ(build_bitmap(valid_bitmap(8)).size(), 54u + 1024u + 8u);
  EXPECT_EQ(build_bitmap(valid_bitmap(1)).size(), 54u + 8u + 8u);
}

TEST(CheckBitmapHeader, MissingOrShortBlock) {
  std::vector<std::uint8_t> bytes = build_bitmap(valid_bitmap(24));
  EXPECT_EQ(check_bitmap_header(nullptr, 100), 1);
  EXPECT_EQ(check_bitmap_header(bytes.data(), 54), 1);
  EXPECT_EQ(check_bitmap_header(bytes.data(), 0), 1);
  EXPECT_EQ(check_bitmap_header(bytes.data(), -1), 1);
}

TEST(CheckBitmapHeader, LeavesTheBlockUnchanged) {
  std::vector<std::uint8_t> bytes = build_bitmap(valid_bitmap(8));
  const std::vector<std::uint8_t> before = bytes;
  check_bitmap_header(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(bytes, before);
}

}  // namespace
