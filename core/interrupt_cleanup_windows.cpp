#include "core/interrupt_cleanup.h"

#include <windows.h>

namespace {

// The console's control handler runs on a thread of its own, so the name is
// guarded by a lock rather than by blocking anything. The name is kept in
// UTF-16, ready for the handler, which allocates nothing.
SRWLOCK cleanup_lock = SRWLOCK_INIT;
wchar_t armed_path[4096 + 64];
bool armed = false;

// Removes the armed file and lets the default handling end the process.
// The lock is never released: the process is ending, and the run must not
// create another file meanwhile.
BOOL WINAPI remove_on_interrupt(DWORD /*event*/) {
  AcquireSRWLockExclusive(&cleanup_lock);
  if (armed) {
    DeleteFileW(armed_path);
    armed = false;
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

void arm_interrupt_cleanup(const char* path) {
  install_cleanup_handler();
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, armed_path,
                                        static_cast<int>(sizeof armed_path / sizeof armed_path[0]));
  armed = units > 0;
}

void disarm_interrupt_cleanup() { armed = false; }
