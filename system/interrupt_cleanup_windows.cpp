#include <windows.h>

#include "system/file_system.h"
#include "system/interrupt_cleanup.h"
#include "system/wide_names_windows.h"

namespace {

// The console's control handler runs on a thread of its own, so the names
// are guarded by a lock rather than by blocking anything. Each name is kept
// in its literal UTF-16 form, as the file was created by, ready for the
// handler, which allocates nothing.
SRWLOCK cleanup_lock = SRWLOCK_INIT;
wide_name armed_path[most_temporary_files];
bool armed[most_temporary_files];

// Removes the armed files and lets the default handling end the process.
// The lock is never released: the process is ending, and the run must not
// create another file meanwhile.
BOOL WINAPI remove_on_interrupt(DWORD /*event*/) {
  AcquireSRWLockExclusive(&cleanup_lock);
  for (int slot = 0; slot < most_temporary_files; ++slot) {
    if (armed[slot]) {
      DeleteFileW(armed_path[slot].text);
      armed[slot] = false;
    }
  }
  return FALSE;
}

void install_cleanup_handler() {
  static bool installed = false;
  if (!installed) {
    installed = SetConsoleCtrlHandler(remove_on_interrupt, TRUE) != 0;
  }
}

}  // namespace

void hold_interrupts() { AcquireSRWLockExclusive(&cleanup_lock); }

void release_interrupts() { ReleaseSRWLockExclusive(&cleanup_lock); }

// On Windows the name is a whole path and directory is not used.
void arm_interrupt_cleanup(int slot, int /*directory*/, const char* name) {
  install_cleanup_handler();
  armed[slot] = to_literal_wide_name(name, &armed_path[slot]);
}

void disarm_interrupt_cleanup(int slot) { armed[slot] = false; }
