#include "driver/program_entry.h"

// The arguments arrive as the bytes the command line gave.
int main(int argc, char** argv) { return program_main(argc, argv); }
