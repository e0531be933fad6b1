// tesvar: converts a bitmap to luma and colour differences (Y, Cb, Cr).
#include "convert/convert_to_yuv.h"
#include "driver/run_converter.h"

int main(int argc, char** argv) { return run_converter(argc, argv, "tesvar.bmp", convert_to_yuv); }
