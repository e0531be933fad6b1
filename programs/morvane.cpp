// morvane: converts a bitmap to hue, saturation and value.
#include "convert/convert_to_hsv.h"
#include "driver/run_converter.h"

int main(int argc, char** argv) { return run_converter(argc, argv, "morvane.bmp", convert_to_hsv); }
