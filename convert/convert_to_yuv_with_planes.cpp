#include "convert/convert_to_yuv.h"
#include "convert/convert_with_planes.h"
#include "convert/write_channel_planes.h"

int convert_to_yuv_with_planes(std::uint8_t* source, std::uint8_t* destination, std::int64_t width,
                               std::int64_t rows) {
  const int result = convert_to_yuv(source, destination, width, rows);
  return result != 0 ? result : write_channel_planes(destination, width, rows, yuv_planes);
}
