#pragma once

// The input and output names of a run. A name the command line does not
// give is the program's default file name, the same for both.
struct file_args {
  const char* input;
  const char* output;
  bool output_typed;  // the output name came from the command line
};

// Scans arguments 1 onwards: the first two that do not start with '-' are
// the input and output names. Returns 0, or status::usage for any argument
// starting with '-' or a third name.
int parse_file_args(int argc, const char* const* argv, const char* default_name, file_args* names);

// The program's name for the usage text: argument 0 after its last '/' or
// '\', searched from the end down to the second character only.
const char* program_name(const char* argv0);

// Prints "\nusage: NAME  [input_bmp [output_bmp]]\n\n" on stderr.
void print_usage(const char* argv0);
