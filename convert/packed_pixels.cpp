#include "convert/packed_pixels.h"

void run_on_packed_pixels(pixel_run kernel, const std::uint8_t* in, std::uint8_t* out,
                          std::int64_t count) {
  std::uint8_t wide[4 * packed_pixels_per_pass];
  while (count > 0) {
    const std::int64_t pass = count < packed_pixels_per_pass ? count : packed_pixels_per_pass;
    for (std::int64_t i = 0; i < pass; ++i) {
      wide[4 * i] = in[3 * i];
      wide[4 * i + 1] = in[3 * i + 1];
      wide[4 * i + 2] = in[3 * i + 2];
      wide[4 * i + 3] = 0;
    }
    kernel(wide, out, pass);
    in += 3 * pass;
    out += 4 * pass;
    count -= pass;
  }
}
