// The grey-scale images of tesvarex and morvanex, one per colour slot of a
// converted working image, and how a band of one is made.
#pragma once

#include <cstdint>

struct channel_plane {
  int byte_index;         // which byte of each converted pixel
  const char* file_name;  // written in the current directory
};

constexpr int channel_plane_count = 3;

// V, U, Y of the luma and colour-difference conversion, in writing order.
extern const channel_plane yuv_planes[channel_plane_count];
// H, S, V of the hue, saturation and value conversion, in writing order.
extern const channel_plane hsv_planes[channel_plane_count];

// Sets each of pixel_count plane pixels to c, c, c, 0, where c is byte
// byte_index of the same converted pixel.
void fill_plane_band(const std::uint8_t* converted, std::uint8_t* plane, std::uint64_t pixel_count,
                     int byte_index);
