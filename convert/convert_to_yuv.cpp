#include "convert/convert_to_yuv.h"

#include "convert/convert_each_pixel.h"
#include "convert/quantize_channel.h"
#include "convert/ycbcr_sums.h"

int convert_to_yuv(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                   std::int64_t rows) {
  return convert_each_pixel(source, destination, width, rows,
                            [](const std::uint8_t* in, std::uint8_t* out) {
                              const ycbcr c = compute_ycbcr(in[2], in[1], in[0]);
                              // The offset is added in double precision and
                              // the sum is not rounded back to float.
                              out[0] = quantize_channel(static_cast<double>(c.cb) + 128.0);
                              out[1] = quantize_channel(c.y);
                              out[2] = quantize_channel(static_cast<double>(c.cr) + 128.0);
                            });
}
