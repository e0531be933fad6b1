#pragma once

#include <cstdint>

// One grey-scale image per colour slot of a converted working image.
struct channel_plane {
  int byte_index;         // which byte of each converted pixel
  const char* file_name;  // written in the current directory
};

constexpr int channel_plane_count = 3;

// V, U, Y of the luma and colour-difference conversion, in writing order.
extern const channel_plane yuv_planes[channel_plane_count];
// H, S, V of the hue, saturation and value conversion, in writing order.
extern const channel_plane hsv_planes[channel_plane_count];

// Writes each plane in order as a 32-bit bitmap whose pixels are c, c, c, 0
// for the plane's byte c of the converted pixel. A plane that fails does
// not stop the next. A plane whose name leads to the file the run loaded is
// not written ("File '%s' cannot create."). Returns 0; 9 after printing "Couldn't allocate
// memory. planes" when the plane image cannot be had (no plane written);
// 10 when any plane file was not completely written.
int write_channel_planes(std::uint8_t* destination, std::int64_t width, std::int64_t rows,
                         const channel_plane* planes);
