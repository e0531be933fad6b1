#include <windows.h>

#include "system/worker_threads.h"
#include "system/worker_threads_platform.h"

namespace {

HANDLE threads[most_worker_threads];
SRWLOCK turn_lock = SRWLOCK_INIT;
CONDITION_VARIABLE turn_changed = CONDITION_VARIABLE_INIT;

DWORD WINAPI run_call(void* argument) {
  const auto* call = static_cast<const worker_call*>(argument);
  call->work(call->context, call->index);
  return 0;
}

}  // namespace

bool start_worker_thread(int slot, const worker_call* call) {
  threads[slot] = CreateThread(nullptr, 0, run_call, const_cast<worker_call*>(call), 0, nullptr);
  return threads[slot] != nullptr;
}

void join_worker_thread(int slot) {
  WaitForSingleObject(threads[slot], INFINITE);
  CloseHandle(threads[slot]);
}

void lock_turns() { AcquireSRWLockExclusive(&turn_lock); }

void unlock_turns() { ReleaseSRWLockExclusive(&turn_lock); }

void wait_for_turn_change() { SleepConditionVariableSRW(&turn_changed, &turn_lock, INFINITE, 0); }

void wake_turn_waiters() { WakeAllConditionVariable(&turn_changed); }
