#include "convert/yuv_pixels.h"

void yuv_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i, in += 4, out += 4) {
    const int blue = in[0], green = in[1], red = in[2];
    const int y = (299 * red + 587 * green + 114 * blue + 500) / 1000;
    // Both numerators lie between 1000 and 256000, so the division floors.
    const int u = (-169 * red - 331 * green + 500 * blue + 128500) / 1000;
    const int v = (500 * red - 419 * green - 81 * blue + 128500) / 1000;
    out[0] = static_cast<std::uint8_t>(u > 255 ? 255 : u);
    out[1] = static_cast<std::uint8_t>(y);
    out[2] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
  }
}
