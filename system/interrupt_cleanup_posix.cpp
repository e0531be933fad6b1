#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "system/file_system.h"
#include "system/interrupt_cleanup.h"

namespace {

// Every signal whose default action ends the process and that others send;
// the real-time signals are added at run time. The faults a program causes
// itself (SIGSEGV, SIGBUS and the like) keep their default, so that a
// crash is reported where it happened.
constexpr int fixed_cleanup_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTERM,   SIGPIPE, SIGALRM, SIGUSR1,
    SIGUSR2,   SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The files to remove, read by the signal handler; a slot is armed only
// while its name is complete and its file exists.
int armed_directory[most_temporary_files];
const char* armed_name[most_temporary_files];
volatile std::sig_atomic_t armed[most_temporary_files];

// The signal mask to restore when interrupts are released.
sigset_t mask_before_hold;

const sigset_t& cleanup_signals() {
  static const sigset_t set = [] {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number : fixed_cleanup_signals) {
      sigaddset(&signals, signal_number);
    }
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
      sigaddset(&signals, signal_number);
    }
    return signals;
  }();
  return set;
}

void remove_and_reraise(int signal_number) {
  for (int slot = 0; slot < most_temporary_files; ++slot) {
    if (armed[slot] != 0) {
      remove_entry(armed_directory[slot], armed_name[slot]);
      armed[slot] = 0;
    }
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Installs the handler once, except for a signal the parent left ignored
// (a background job's SIGINT, a SIGXFSZ ignored on purpose): that one stays
// ignored, as it would without the handler. A signal the system will not
// let the program catch is left as it is.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  const sigset_t& signals = cleanup_signals();
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    struct sigaction old_action {};
    if (sigismember(&signals, signal_number) != 1 ||
        sigaction(signal_number, nullptr, &old_action) != 0 || old_action.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_and_reraise;
    action.sa_mask = signals;
    sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

void hold_interrupts() { sigprocmask(SIG_BLOCK, &cleanup_signals(), &mask_before_hold); }

void release_interrupts() { sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr); }

void arm_interrupt_cleanup(int slot, int directory, const char* name) {
  install_cleanup_handlers();
  armed_directory[slot] = directory;
  armed_name[slot] = name;
  armed[slot] = 1;
}

void disarm_interrupt_cleanup(int slot) { armed[slot] = 0; }
