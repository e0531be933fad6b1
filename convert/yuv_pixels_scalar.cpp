#include "convert/colour_constants.h"
#include "convert/packed_pixels.h"
#include "convert/yuv_pixels.h"

void yuv_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  using namespace colour;
  for (std::int64_t i = 0; i < count; ++i, in += 4, out += 4) {
    const int blue = in[0], green = in[1], red = in[2];
    const int y = (y_red_k * red + y_green_k * green + y_blue_k * blue + half_k) / 1000;
    // Both numerators lie between 1000 and 256000, so the division floors.
    const int u =
        (cb_red_k * red + cb_green_k * green + cb_blue_k * blue + offset_and_half_k) / 1000;
    const int v =
        (cr_red_k * red + cr_green_k * green + cr_blue_k * blue + offset_and_half_k) / 1000;
    out[0] = static_cast<std::uint8_t>(u > 255 ? 255 : u);
    out[1] = static_cast<std::uint8_t>(y);
    out[2] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
  }
}

void yuv_packed_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  run_on_packed_pixels(yuv_pixels_scalar, in, out, count);
}
