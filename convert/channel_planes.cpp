#include "convert/channel_planes.h"

#include <cstring>

#include "system/memory_word.h"

const channel_plane yuv_planes[channel_plane_count] = {
    {2, "bmp_yuv_v.bmp"}, {0, "bmp_yuv_u.bmp"}, {1, "bmp_yuv_y.bmp"}};

const channel_plane hsv_planes[channel_plane_count] = {
    {2, "bmp_hsv_h.bmp"}, {0, "bmp_hsv_s.bmp"}, {1, "bmp_hsv_v.bmp"}};

void fill_plane_band(const std::uint8_t* converted, std::uint8_t* plane, std::uint64_t pixel_count,
                     int byte_index) {
  // Times a byte c, the word whose bytes are 1, 1, 1, 0 is the grey pixel
  // c, c, c, 0.
  const std::uint32_t unit = word_of_bytes(1, 1, 1, 0);
  const std::uint8_t* in = converted + byte_index;
  // Whole words, so that the compiler can fill many pixels at a time.
  for (std::uint64_t x = 0; x < pixel_count; ++x) {
    const std::uint32_t grey = in[4 * x] * unit;
    std::memcpy(plane + 4 * x, &grey, 4);
  }
}
