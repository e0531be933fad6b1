// Writes a colourful 24-bit sample bitmap for trying the converters.
#include <cstdio>

#include "tests/bitmap_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_sample_bitmap PATH\n", stderr);
    return 1;
  }
  return write_file(argv[1], build_bitmap(sample_bitmap_24(256, 192))) ? 0 : 1;
}
