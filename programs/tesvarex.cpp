// tesvarex: as tesvar, and also writes Y, Cb and Cr as grey-scale images.
#include "convert/convert_with_planes.h"
#include "driver/program_entry.h"
#include "driver/run_converter.h"

int program_main(int argc, const char* const* argv) {
  return run_converter(argc, argv, "tesvarex.bmp", convert_to_yuv_with_planes);
}
