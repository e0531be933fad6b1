#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "system/file_system.h"
#include "system/interrupt_cleanup.h"

namespace {

// Every signal whose default action ends the process and that others send;
// the real-time signals are added at run time.
constexpr int fixed_cleanup_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTERM,   SIGPIPE, SIGALRM, SIGUSR1,
    SIGUSR2,   SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// Signals that also report the program's own faults. Sent by another
// process (kill, or abort's own raise) they clean up like the others; a
// fault the kernel reports keeps what was there before (the default, which
// stops where the fault happened, or a sanitizer's handler).
constexpr int fault_signals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
constexpr int fault_signal_count = sizeof fault_signals / sizeof fault_signals[0];
struct sigaction fault_action_before[fault_signal_count];

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
    for (const int signal_number : fault_signals) {
      sigaddset(&signals, signal_number);
    }
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
      sigaddset(&signals, signal_number);
    }
    return signals;
  }();
  return set;
}

int fault_index(int signal_number) {
  for (int i = 0; i < fault_signal_count; ++i) {
    if (fault_signals[i] == signal_number) {
      return i;
    }
  }
  return -1;
}

// A fault the kernel reported: what was there before takes over. A fault
// that returns to its instruction meets it again; the others are raised
// again for it.
void hand_on_fault(int signal_number, int index) {
  sigaction(signal_number, &fault_action_before[index], nullptr);
  if (signal_number != SIGSEGV && signal_number != SIGBUS && signal_number != SIGFPE &&
      signal_number != SIGILL) {
    std::raise(signal_number);
  }
}

void remove_and_reraise(int signal_number, siginfo_t* info, void* /*context*/) {
  const int index = fault_index(signal_number);
  // si_code is positive only for what the kernel itself reports.
  if (index >= 0 && info != nullptr && info->si_code > 0) {
    hand_on_fault(signal_number, index);
    return;
  }
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
// (a background job's SIGINT, a SIGXFSZ ignored on purpose): that one is
// put back to ignored, as it would be without the handler. A signal the
// system will not let the program catch (KILL, STOP, and those the C
// library keeps for itself) is left as it is.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  const sigset_t& signals = cleanup_signals();
  struct sigaction action {};
  action.sa_sigaction = remove_and_reraise;
  action.sa_flags = SA_SIGINFO;
  action.sa_mask = signals;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    struct sigaction before {};
    if (sigismember(&signals, signal_number) != 1 ||
        sigaction(signal_number, &action, &before) != 0) {
      continue;
    }
    const int index = fault_index(signal_number);
    if ((before.sa_flags & SA_SIGINFO) == 0 && before.sa_handler == SIG_IGN) {
      sigaction(signal_number, &before, nullptr);
    } else if (index >= 0) {
      fault_action_before[index] = before;
    }
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
