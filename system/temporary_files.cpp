#include "system/temporary_files.h"

#include <cerrno>

#include "system/interrupt_cleanup.h"

namespace {

// One temporary file: where it stands. held is set only while the name is
// complete and the file exists, and the interrupt cleanup is armed just as
// long.
struct temporary_record {
  bool held = false;
  int directory = -1;
  char name[path_buffer_bytes] = {};
};

temporary_record records[most_temporary_files];

int free_slot() {
  for (int slot = 0; slot < most_temporary_files; ++slot) {
    if (!records[slot].held) {
      return slot;
    }
  }
  return -1;
}

}  // namespace

std::FILE* create_temporary_file(const output_place& place, bool private_file, int* slot) {
  hold_interrupts();
  std::FILE* file = nullptr;
  const int chosen = free_slot();
  if (chosen < 0) {
    errno = ENAMETOOLONG;
  } else {
    temporary_record& record = records[chosen];
    file = create_file_beside(place, private_file, &record.directory, record.name);
    record.held = file != nullptr;
    if (record.held) {
      arm_interrupt_cleanup(chosen, record.directory, record.name);
      *slot = chosen;
    }
  }
  const int error = errno;
  release_interrupts();
  errno = error;
  return file;
}

bool commit_temporary_file(int slot, const output_place& place) {
  temporary_record& record = records[slot];
  hold_interrupts();
  const bool renamed = rename_over_entry(record.directory, record.name, place);
  if (!renamed) {
    remove_entry(record.directory, record.name);
  }
  record.held = false;
  disarm_interrupt_cleanup(slot);
  release_interrupts();
  return renamed;
}

void discard_temporary_file(int slot) {
  temporary_record& record = records[slot];
  hold_interrupts();
  if (record.held) {
    remove_entry(record.directory, record.name);
    record.held = false;
    disarm_interrupt_cleanup(slot);
  }
  release_interrupts();
}
