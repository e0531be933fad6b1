// morvanex: as morvane, and also writes H, S and V as grey-scale images.
#include "convert/channel_planes.h"
#include "convert/convert_to_hsv.h"
#include "driver/program_entry.h"
#include "driver/run_converter.h"

int program_main(int argc, const char* const* argv) {
  return run_converter(argc, argv, "morvanex.bmp", {convert_to_hsv, convert_stored_to_hsv},
                       hsv_planes);
}
