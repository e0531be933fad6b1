// Windows' part of an output_place (system/file_system.h), which only
// file_system_windows.cpp reads. The build puts this folder on the include
// path of Windows builds alone.
#pragma once

#include "system/path_buffer.h"

struct place_lookup {
  // The whole path of the entry: the name as given, or the path a followed
  // link finally leads to.
  char path[path_buffer_bytes] = {};
};
