// morvanex: as morvane, and also writes H, S and V as grey-scale images.
#include "convert/convert_with_planes.h"
#include "driver/run_converter.h"

int main(int argc, char** argv) {
  return run_converter(argc, argv, "morvanex.bmp", convert_to_hsv_with_planes);
}
