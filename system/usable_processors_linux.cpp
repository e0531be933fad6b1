#include <sched.h>

#include "system/usable_processors.h"

int usable_processors() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  const int count = sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : 1;
  return count > 0 ? count : 1;
}
