#include "system/worker_threads.h"

#include "system/worker_threads_platform.h"

namespace {

// Guarded by the turn lock.
std::uint64_t current_turn = 0;
bool turns_stopped = false;

}  // namespace

int run_on_threads(int count, void (*work)(void* context, int index), void* context) {
  if (count > most_worker_threads) {
    count = most_worker_threads;
  }
  worker_call calls[most_worker_threads];
  int started = 0;
  for (int index = 1; index < count; ++index) {
    calls[started] = worker_call{work, context, index};
    if (!start_worker_thread(started, &calls[started])) {
      break;
    }
    ++started;
  }
  work(context, 0);
  for (int slot = 0; slot < started; ++slot) {
    join_worker_thread(slot);
  }
  return started + 1;
}

void reset_turns() {
  lock_turns();
  current_turn = 0;
  turns_stopped = false;
  unlock_turns();
}

bool wait_for_turn(std::uint64_t turn) {
  lock_turns();
  while (current_turn != turn && !turns_stopped) {
    wait_for_turn_change();
  }
  const bool mine = !turns_stopped;
  unlock_turns();
  return mine;
}

void pass_turn(std::uint64_t next) {
  lock_turns();
  current_turn = next;
  unlock_turns();
  wake_turn_waiters();
}

void stop_turns() {
  lock_turns();
  turns_stopped = true;
  unlock_turns();
  wake_turn_waiters();
}
