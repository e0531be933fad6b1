// Linux's part of an output_place (system/file_system.h), which only
// file_system_linux.cpp reads: the handles the name was looked up through.
// The build puts this folder on the include path of Linux builds alone.
#pragma once

#include "system/path_buffer.h"

struct place_lookup {
  // For replace, write_in_place and create_directly: a handle of the
  // directory the entry stands in, and the entry's name in it.
  int directory = -1;
  char entry[path_buffer_bytes] = {};
  // A handle of the regular file standing at the entry; -1 when none.
  int old_file = -1;
};
