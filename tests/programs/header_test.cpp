// The header check and the driver's own refusals, run as a user would:
// each refused file ends with its status and message and writes nothing.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

struct header_case {
  std::string what;
  bytes input;
  expected_end end;
};

std::vector<header_case> header_cases() {
  const test_bitmap base = two_by_two_24();  // 2 rows of 8 stored bytes
  const test_bitmap base_32 = encode_32(picture_of(1, {{1, 2, 3}}), rows_bottom_up);
  const test_bitmap base_8 =
      encode_8(picture_of(3, {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}), rows_bottom_up);
  std::vector<bgr> two_colours;
  for (std::uint8_t i = 0; i < 18; ++i) {
    two_colours.push_back({static_cast<std::uint8_t>(i % 2 * 200), 9, 9});
  }
  const test_bitmap nine_wide_1 = encode_1(picture_of(9, two_colours), rows_bottom_up);
  const std::string not_completed = "Image processing is not completed.\n";
  const std::string no_destination = "Couldn't allocate memory. destination\n";
  // clang-format off
  return {
      {"55 bytes not starting with BM", bytes(55, 'A'), exits_with(2)},
      {"type not BM", build_bitmap(changed(base, [](test_bitmap& b) { b.type = 0x4D43; })),
       exits_with(2)},
      {"reserved1 set",
       build_bitmap(changed(base, [](test_bitmap& b) { b.reserved1 = 1; })), exits_with(2)},
      {"reserved2 set",
       build_bitmap(changed(base, [](test_bitmap& b) { b.reserved2 = 1; })), exits_with(2)},
      {"type wrong and planes 2, type decides",
       build_bitmap(changed(base, [](test_bitmap& b) { b.type = 0; b.planes = 2; })),
       exits_with(2)},
      {"planes 2", build_bitmap(changed(base, [](test_bitmap& b) { b.planes = 2; })),
       exits_with(3)},
      {"bit fields at 32 bits",
       build_bitmap(changed(base_32, [](test_bitmap& b) { b.compression = 3; })), exits_with(3)},
      {"compressed and size_image too big, compression decides",
       build_bitmap(changed(base, [](test_bitmap& b) { b.compression = 1; b.size_image = 999; })),
       exits_with(3)},
      {"size_image runs past the end of the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.size_image = 17; })), exits_with(4)},
      {"size_image below width x rows x bytes per pixel",
       build_bitmap(changed(base, [](test_bitmap& b) { b.size_image = 11; })), exits_with(4)},
      {"bfOffBits + size_image wraps in 32 bits",
       build_bitmap(changed(base, [](test_bitmap& b) { b.size_image = 0xFFFFFFF0; })),
       exits_with(4)},
      {"negative width with size_image",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = -2; b.size_image = 16; })),
       exits_with(4)},
      {"24-bit rows: last row missing", build_bitmap(cut(base, 8)), exits_with(4)},
      {"24-bit rows: last row one byte short", build_bitmap(cut(base, 13)), exits_with(4)},
      {"32-bit rows: last pixel short",
       build_bitmap(cut(encode_32(picture_of(1, {{1, 2, 3}, {4, 5, 6}}), rows_bottom_up), 7)),
       exits_with(4)},
      {"8-bit rows: last row one byte short", build_bitmap(cut(base_8, 2)), exits_with(4)},
      {"8-bit rows start past the end of the file",
       build_bitmap(changed(base_8, [](test_bitmap& b) { b.off_bits = 54 + 400; })), exits_with(4)},
      {"1-bit rows: second byte of the last row missing", build_bitmap(cut(nine_wide_1, 5)),
       exits_with(4)},
      {"height -2^31 rows are not in the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = 1; b.height = INT32_MIN; })),
       exits_with(4)},
      {"width 2^31-1 is not in the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = INT32_MAX; b.height = 1; })),
       exits_with(4)},
      {"32-bit with bfOffBits 58",
       build_bitmap(changed(base_32, [](test_bitmap& b) { b.palette = bytes(4, 0); })),
       exits_with(5)},
      {"24-bit with bfOffBits 58",
       build_bitmap(changed(base, [](test_bitmap& b) { b.palette = bytes(4, 0); })), exits_with(6)},
      {"24-bit with bfOffBits 58 and rows cut short",
       build_bitmap(cut(changed(base, [](test_bitmap& b) { b.palette = bytes(4, 0); }), 9)),
       exits_with(6)},
      {"8-bit with 1022 palette bytes",
       build_bitmap(changed(base_8, [](test_bitmap& b) { b.palette = bytes(1022, 0); })),
       exits_with(7, "Unexpected lut size. 1076, 255\n")},
      {"8-bit with bfOffBits 52",
       build_bitmap(changed(base_8, [](test_bitmap& b) { b.off_bits = 52; })),
       exits_with(7, "Unexpected lut size. 52, 1073741823\n")},
      {"1-bit with four palette entries",
       build_bitmap(changed(nine_wide_1, [](test_bitmap& b) { b.palette = bytes(16, 0); })),
       exits_with(8, "Unexpected, requirement is 2, lut size. 70, 4\n")},
      {"1-bit without palette",
       build_bitmap(changed(nine_wide_1, [](test_bitmap& b) { b.palette.clear(); })),
       exits_with(8, "Unexpected, requirement is 2, lut size. 54, 0\n")},
      {"16 bits per pixel", build_bitmap(changed(base, [](test_bitmap& b) { b.bit_count = 16; })),
       exits_with(1)},
      {"4 bits per pixel", build_bitmap(changed(base, [](test_bitmap& b) { b.bit_count = 4; })),
       exits_with(1)},
      {"16 bits per pixel with rows not in the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.bit_count = 16; b.width = 100; })),
       exits_with(1)},
      {"width 0", build_bitmap(changed(base, [](test_bitmap& b) { b.width = 0; })),
       exits_with(1, not_completed)},
      {"height 0", build_bitmap(changed(base, [](test_bitmap& b) { b.height = 0; })),
       exits_with(1, not_completed)},
      {"width -2, height 0",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = -2; b.height = 0; })),
       exits_with(1, not_completed)},
      {"width -2, height 2", build_bitmap(changed(base, [](test_bitmap& b) { b.width = -2; })),
       exits_with(9, no_destination)},
      {"width -2, height -2 at 16 bits: the depth is refused before any memory",
       build_bitmap(changed(base, [](test_bitmap& b) {
         b.width = -2;
         b.height = -2;
         b.bit_count = 16;
       })), exits_with(1)},
      {"a tiny 16-bit file claiming 2^62 bytes of pixels reserves none",
       build_bitmap(changed(base, [](test_bitmap& b) {
         b.bit_count = 16;
         b.width = INT32_MAX;
         b.height = INT32_MIN;
       })), exits_with(1)},
  };
  // clang-format on
}

TEST(ProgramHeaderCheck, RefusedFilesEndWithTheirStatusAndWriteNothing) {
  // The size cases count on 16 stored pixel bytes after a 54-byte header.
  ASSERT_EQ(build_bitmap(two_by_two_24()).size(), 70u);
  for (const header_case& c : header_cases()) {
    for (const program* p : all_programs) {
      expect_refused(
          {c.what, p, {"in.bmp", "out.bmp"}, with_stale_planes({{"in.bmp", c.input}}), c.end});
    }
  }
}

}  // namespace
