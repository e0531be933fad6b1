// The signals that also report faults: sent by another process they remove
// the armed temporary file and end the process; a fault the kernel reports
// goes to the handler that was there before and removes nothing.
#include "system/interrupt_cleanup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace {

constexpr int handed_on = 42;

void exit_handed_on(int /*signal_number*/) { _exit(handed_on); }

// A fault of the process's own: a write to a page it may only read.
void fault() {
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page != MAP_FAILED) {
    *static_cast<volatile char*>(page) = 1;
  }
  _exit(1);
}

// Runs step in a child that has a handler of its own for SIGSEGV and then
// arms the cleanup for name in directory; the child's wait status.
int run_armed_child(const std::string& directory, const char* name, void (*step)()) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGSEGV, exit_handed_on);
    const int handle = open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    hold_interrupts();
    arm_interrupt_cleanup(0, handle, name);
    release_interrupts();
    step();
    _exit(1);
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  return wait_status;
}

TEST(InterruptCleanup, FaultSignalsSentCleanUpAndFaultsHandOn) {
  const std::string dir = make_temp_dir();
  const std::string file = dir + "/.armed";
  std::ofstream(file).put('x');

  const int faulted = run_armed_child(dir, ".armed", fault);
  EXPECT_TRUE(WIFEXITED(faulted) && WEXITSTATUS(faulted) == handed_on)
      << "a real fault did not reach the handler that was there before";
  EXPECT_TRUE(std::filesystem::exists(file)) << "a real fault removed the file";

  const int killed = run_armed_child(dir, ".armed", [] { kill(getpid(), SIGSEGV); });
  EXPECT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGSEGV);
  EXPECT_FALSE(std::filesystem::exists(file)) << "a sent SIGSEGV left the file";
  remove_tree(dir);
}

}  // namespace
