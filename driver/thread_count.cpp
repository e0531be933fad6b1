#include "driver/thread_count.h"

#include <cstdlib>

#include "system/usable_processors.h"

int thread_count_for(const char* value, int processors) {
  int count = 0;
  for (const char* digit = value; digit != nullptr && *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || count > most_worker_threads) {
      return processors;
    }
    count = count * 10 + (*digit - '0');
  }
  return count >= 1 && count <= most_worker_threads ? count : processors;
}

int converter_threads() {
  return thread_count_for(std::getenv(thread_count_variable), usable_processors());
}
