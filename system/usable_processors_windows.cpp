#include <windows.h>

#include "system/usable_processors.h"

int usable_processors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) == 0) {
    return 1;
  }
  int count = 0;
  for (; process != 0; process &= process - 1) {
    ++count;
  }
  return count > 0 ? count : 1;
}
