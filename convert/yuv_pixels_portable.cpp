// Y, U and V of pixel words in plain C++, in single precision throughout:
// every weighted sum of bytes in thousandths is a whole number below 2^24,
// so the sums are exact and the loop has nothing but float arithmetic,
// which the compiler vectorises for any vector unit.
#include "convert/colour_constants.h"
#include "convert/packed_pixels.h"
#include "convert/pixel_words.h"
#include "convert/yuv_pixels.h"

void yuv_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  using namespace colour;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::uint32_t pixel = load_pixel_word(in + 4 * i);
    const float blue = pixel_byte(pixel, 0), green = pixel_byte(pixel, 1),
                red = pixel_byte(pixel, 2);
    const float y = thousandths_floor(weighted(red, green, blue, y_red_k, y_green_k, y_blue_k) +
                                      static_cast<float>(half_k));
    const float u = thousandths_floor(weighted(red, green, blue, cb_red_k, cb_green_k, cb_blue_k) +
                                      static_cast<float>(offset_and_half_k));
    const float v = thousandths_floor(weighted(red, green, blue, cr_red_k, cr_green_k, cr_blue_k) +
                                      static_cast<float>(offset_and_half_k));
    const float top = 255.0f;
    store_pixel_word(out + 4 * i, packed_pixel_word(static_cast<std::int32_t>(u < top ? u : top),
                                                    static_cast<std::int32_t>(y),
                                                    static_cast<std::int32_t>(v < top ? v : top),
                                                    load_pixel_word(out + 4 * i)));
  }
}

void yuv_packed_pixels_portable(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  run_on_packed_pixels(yuv_pixels_portable, in, out, count);
}
