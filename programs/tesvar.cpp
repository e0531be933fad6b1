// tesvar: converts a bitmap to luma and colour differences (Y, Cb, Cr).
#include "convert/convert_to_yuv.h"
#include "driver/program_entry.h"
#include "driver/run_converter.h"

int program_main(int argc, const char* const* argv) {
  return run_converter(argc, argv, "tesvar.bmp", {convert_to_yuv, convert_stored_to_yuv}, nullptr);
}
