#include "convert/write_channel_planes.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/bitmap_builder.h"
#include "tests/temp_dir.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// The pixels of a written 32-bit plane file, after checking its header.
bytes plane_pixels(const std::string& name, std::uint32_t width, std::uint32_t rows) {
  const bytes file = read_file(name);
  EXPECT_EQ(file.size(), 54u + width * rows * 4) << name;
  if (file.size() < 54) return {};
  EXPECT_EQ(u32_at(file, 18), width);
  EXPECT_EQ(u32_at(file, 22), rows);
  EXPECT_EQ(u16_at(file, 28), 32);
  return bytes(file.begin() + 54, file.end());
}

TEST(WriteChannelPlanes, OnePlanePerByteInOrder) {
  const scoped_work_dir dir = enter_temp_dir();
  // Converted pixels (byte 0, byte 1, byte 2) = (10, 20, 30) and (40, 50, 60).
  bytes converted = {10, 20, 30, 99, 40, 50, 60, 99};
  struct plane_case {
    const channel_plane* planes;
    const char* names[3];
  };
  const plane_case cases[] = {
      {yuv_planes, {"bmp_yuv_v.bmp", "bmp_yuv_u.bmp", "bmp_yuv_y.bmp"}},
      {hsv_planes, {"bmp_hsv_h.bmp", "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"}},
  };
  for (const plane_case& c : cases) {
    EXPECT_EQ(write_channel_planes(converted.data(), 2, 1, c.planes), 0);
    EXPECT_EQ(plane_pixels(c.names[0], 2, 1), (bytes{30, 30, 30, 0, 60, 60, 60, 0}));
    EXPECT_EQ(plane_pixels(c.names[1], 2, 1), (bytes{10, 10, 10, 0, 40, 40, 40, 0}));
    EXPECT_EQ(plane_pixels(c.names[2], 2, 1), (bytes{20, 20, 20, 0, 50, 50, 50, 0}));
  }
  leave_temp_dir(dir);
}

TEST(WriteChannelPlanes, AFailedPlaneDoesNotStopTheOthers) {
  const scoped_work_dir dir = enter_temp_dir();
  ASSERT_TRUE(std::filesystem::create_directory("bmp_yuv_u.bmp"));
  bytes converted = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_channel_planes(converted.data(), 1, 3, yuv_planes), 10);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "File 'bmp_yuv_u.bmp' cannot create.\n");
  EXPECT_EQ(plane_pixels("bmp_yuv_v.bmp", 1, 3), (bytes{3, 3, 3, 0, 6, 6, 6, 0, 9, 9, 9, 0}));
  EXPECT_EQ(plane_pixels("bmp_yuv_y.bmp", 1, 3), (bytes{2, 2, 2, 0, 5, 5, 5, 0, 8, 8, 8, 0}));
  leave_temp_dir(dir);
}

}  // namespace
