// tesvarex: as tesvar, and also writes Y, Cb and Cr as grey-scale images.
#include "convert/convert_to_yuv.h"
#include "convert/write_channel_planes.h"
#include "driver/run_converter.h"

namespace {

int convert_to_yuv_with_planes(std::uint8_t* source, std::uint8_t* destination,
                               std::int64_t width, std::int64_t rows) {
  const int result = convert_to_yuv(source, destination, width, rows);
  return result != 0 ? result : write_channel_planes(destination, width, rows, yuv_planes);
}

}  // namespace

int main(int argc, char** argv) {
  return run_converter(argc, argv, "tesvarex.bmp", convert_to_yuv_with_planes);
}
