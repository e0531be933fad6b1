#include "driver/program_entry.h"
#include "system/handed_descriptors.h"

// The arguments arrive as the bytes the command line gave.
int main(int argc, char** argv) {
  occupy_closed_standard_descriptors();
  return program_main(argc, argv);
}
