#include "convert/convert_to_yuv.h"

#include "convert/convert_each_pixel.h"
#include "convert/pixel_kernels.h"

int convert_to_yuv(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                   std::int64_t rows) {
  int count = 0;
  const pixel_kernel* fastest = yuv_kernels(&count);
  return convert_each_pixel(source, destination, width, rows, fastest->run);
}

int convert_stored_to_yuv(const std::uint8_t* first_row, std::int64_t stride,
                          std::uint8_t* destination, std::int64_t width, std::int64_t rows) {
  int count = 0;
  const pixel_kernel* fastest = yuv_kernels(&count);
  return convert_each_stored_pixel(first_row, stride, destination, width, rows, fastest->packed);
}
