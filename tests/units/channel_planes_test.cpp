#include "convert/channel_planes.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using bytes = std::vector<std::uint8_t>;

// Each plane takes its own byte of every converted pixel, in the order the
// planes are written: V, U, Y and H, S, V.
TEST(ChannelPlanes, OnePlanePerByteInOrder) {
  // Converted pixels (byte 0, byte 1, byte 2) = (10, 20, 30) and (40, 50, 60).
  const bytes converted = {10, 20, 30, 99, 40, 50, 60, 99};
  const bytes want[3] = {{30, 30, 30, 0, 60, 60, 60, 0},
                         {10, 10, 10, 0, 40, 40, 40, 0},
                         {20, 20, 20, 0, 50, 50, 50, 0}};
  const char* const names[2][3] = {{"bmp_yuv_v.bmp", "bmp_yuv_u.bmp", "bmp_yuv_y.bmp"},
                                   {"bmp_hsv_h.bmp", "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"}};
  const channel_plane* tables[2] = {yuv_planes, hsv_planes};
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; i < channel_plane_count; ++i) {
      bytes plane(converted.size(), 77);
      fill_plane_band(converted.data(), plane.data(), 2, tables[t][i].byte_index);
      EXPECT_EQ(plane, want[i]) << names[t][i];
      EXPECT_STREQ(tables[t][i].file_name, names[t][i]);
    }
  }
}

}  // namespace
