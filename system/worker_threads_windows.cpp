#include <windows.h>

#include "system/worker_threads.h"

namespace {

SRWLOCK turn_lock = SRWLOCK_INIT;
CONDITION_VARIABLE turn_changed = CONDITION_VARIABLE_INIT;
std::uint64_t current_turn = 0;
bool turns_stopped = false;

struct worker {
  void (*work)(void*, int);
  void* context;
  int index;
};

DWORD WINAPI run_worker(void* argument) {
  const worker* w = static_cast<const worker*>(argument);
  w->work(w->context, w->index);
  return 0;
}

}  // namespace

int run_on_threads(int count, void (*work)(void* context, int index), void* context) {
  if (count > most_worker_threads) {
    count = most_worker_threads;
  }
  worker workers[most_worker_threads];
  HANDLE threads[most_worker_threads];
  int started = 0;
  for (int index = 1; index < count; ++index) {
    workers[started] = worker{work, context, index};
    threads[started] = CreateThread(nullptr, 0, run_worker, &workers[started], 0, nullptr);
    if (threads[started] == nullptr) {
      break;
    }
    ++started;
  }
  work(context, 0);
  for (int i = 0; i < started; ++i) {
    WaitForSingleObject(threads[i], INFINITE);
    CloseHandle(threads[i]);
  }
  return started + 1;
}

void reset_turns() {
  AcquireSRWLockExclusive(&turn_lock);
  current_turn = 0;
  turns_stopped = false;
  ReleaseSRWLockExclusive(&turn_lock);
}

bool wait_for_turn(std::uint64_t turn) {
  AcquireSRWLockExclusive(&turn_lock);
  while (current_turn != turn && !turns_stopped) {
    SleepConditionVariableSRW(&turn_changed, &turn_lock, INFINITE, 0);
  }
  const bool mine = !turns_stopped;
  ReleaseSRWLockExclusive(&turn_lock);
  return mine;
}

void pass_turn(std::uint64_t next) {
  AcquireSRWLockExclusive(&turn_lock);
  current_turn = next;
  ReleaseSRWLockExclusive(&turn_lock);
  WakeAllConditionVariable(&turn_changed);
}

void stop_turns() {
  AcquireSRWLockExclusive(&turn_lock);
  turns_stopped = true;
  ReleaseSRWLockExclusive(&turn_lock);
  WakeAllConditionVariable(&turn_changed);
}
