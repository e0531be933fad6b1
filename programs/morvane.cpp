// morvane: converts a bitmap to hue, saturation and value.
#include "convert/convert_to_hsv.h"
#include "driver/program_entry.h"
#include "driver/run_converter.h"

int program_main(int argc, const char* const* argv) {
  return run_converter(argc, argv, "morvane.bmp", {convert_to_hsv, convert_stored_to_hsv}, nullptr);
}
