// tesvarex: as tesvar, and also writes Y, Cb and Cr as grey-scale images.
#include "convert/channel_planes.h"
#include "convert/convert_to_yuv.h"
#include "driver/program_entry.h"
#include "driver/run_converter.h"

int program_main(int argc, const char* const* argv) {
  return run_converter(argc, argv, "tesvarex.bmp", {convert_to_yuv, convert_stored_to_yuv},
                       yuv_planes);
}
