#include <fcntl.h>
#include <unistd.h>

#include "system/handed_descriptors.h"

namespace {

bool found_closed = false;

// The null device on number, for the direction the stream serves; a handle
// of the root directory (which reads and writes nothing) where the system
// has no null device to open.
void occupy(int number) {
  const int flags = (number == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC;
  int handle = open("/dev/null", flags);
  if (handle < 0) {
    handle = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  // The lowest free number is taken, and every lower one is open by now.
  if (handle >= 0 && handle != number) {
    dup3(handle, number, O_CLOEXEC);
    close(handle);
  }
}

}  // namespace

void occupy_closed_standard_descriptors() {
  for (int number = 0; number <= 2; ++number) {
    if (fcntl(number, F_GETFD) < 0) {
      found_closed = true;
      occupy(number);
    }
  }
}

bool standard_descriptor_was_closed() { return found_closed; }

descriptor_start handed_descriptor(int number) {
  const int descriptor_flags = fcntl(number, F_GETFD);
  if (descriptor_flags < 0 || (descriptor_flags & FD_CLOEXEC) != 0) {
    return descriptor_start::closed;
  }
  const int status_flags = fcntl(number, F_GETFL);
  if (status_flags < 0) {
    return descriptor_start::closed;
  }
  return (status_flags & O_ACCMODE) == O_RDONLY ? descriptor_start::read_only
                                                : descriptor_start::writable;
}
