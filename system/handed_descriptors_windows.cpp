#include <fcntl.h>
#include <io.h>

#include "system/handed_descriptors.h"

namespace {

bool found_closed = false;

// The C library's descriptor number has no handle behind it.
bool is_closed(int number) {
  const intptr_t handle = _get_osfhandle(number);
  return handle == -1 || handle == -2;
}

}  // namespace

// A process started without standard handles (a service, a scheduled task)
// has no descriptor behind 0, 1 or 2, and the next file opened could take
// the number; the null device takes it first.
void occupy_closed_standard_descriptors() {
  for (int number = 0; number <= 2; ++number) {
    if (!is_closed(number)) {
      continue;
    }
    found_closed = true;
    const int handle = _open("NUL", (number == 0 ? _O_RDONLY : _O_WRONLY) | _O_BINARY);
    if (handle >= 0 && handle != number) {
      _dup2(handle, number);
      _close(handle);
    }
  }
}

bool standard_descriptor_was_closed() { return found_closed; }

// Windows has no names for descriptors, so none is ever looked up.
descriptor_start handed_descriptor(int /*number*/) { return descriptor_start::closed; }
