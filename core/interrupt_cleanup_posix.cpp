#include "core/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace {

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

// The name to remove, read by the signal handler; armed is set only while
// the name is complete and the file exists.
const char* armed_path = nullptr;
volatile std::sig_atomic_t armed = 0;

// The signal mask to restore when interrupts are released.
sigset_t mask_before_hold;

void remove_and_reraise(int signal_number) {
  if (armed != 0) {
    unlink(armed_path);
    armed = 0;
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Installs the handler once, except for a signal the parent left ignored
// (a background job's SIGINT, a SIGXFSZ ignored on purpose): that one stays
// ignored, as it would without the handler.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  for (const int signal_number : cleanup_signals) {
    struct sigaction old_action {};
    if (sigaction(signal_number, nullptr, &old_action) != 0 || old_action.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_and_reraise;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

void hold_interrupts() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : cleanup_signals) {
    sigaddset(&set, signal_number);
  }
  sigprocmask(SIG_BLOCK, &set, &mask_before_hold);
}

void release_interrupts() { sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr); }

void arm_interrupt_cleanup(const char* path) {
  install_cleanup_handlers();
  armed_path = path;
  armed = 1;
}

void disarm_interrupt_cleanup() { armed = 0; }
