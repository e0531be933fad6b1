#include <windows.h>

#include <new>

#include "system/worker_threads.h"
#include "system/worker_threads_platform.h"

namespace {

struct turn_signal {
  SRWLOCK lock;
  CONDITION_VARIABLE changed;
};
static_assert(sizeof(turn_signal) <= turn_signal_bytes && alignof(turn_signal) <= 8,
              "a turn's signal bytes hold the lock and condition");

turn_signal* signal_of(band_turn* turn) {
  return std::launder(reinterpret_cast<turn_signal*>(turn->signal));
}

HANDLE thread_of(const worker_call* call) { return reinterpret_cast<HANDLE>(call->thread); }

DWORD WINAPI run_call(void* argument) {
  const auto* call = static_cast<const worker_call*>(argument);
  call->work(call->context, call->index);
  return 0;
}

}  // namespace

bool start_worker_thread(worker_call* call) {
  const HANDLE thread = CreateThread(nullptr, 0, run_call, call, 0, nullptr);
  call->thread = reinterpret_cast<std::uintptr_t>(thread);
  return thread != nullptr;
}

void join_worker_thread(worker_call* call) {
  WaitForSingleObject(thread_of(call), INFINITE);
  CloseHandle(thread_of(call));
}

void open_turn_signal(band_turn* turn) {
  auto* signal = new (turn->signal) turn_signal;
  InitializeSRWLock(&signal->lock);
  InitializeConditionVariable(&signal->changed);
}

// Neither an SRW lock nor a condition variable holds anything to release.
void close_turn_signal(band_turn*) {}

void lock_turn(band_turn* turn) { AcquireSRWLockExclusive(&signal_of(turn)->lock); }

void unlock_turn(band_turn* turn) { ReleaseSRWLockExclusive(&signal_of(turn)->lock); }

void wait_for_turn_change(band_turn* turn) {
  SleepConditionVariableSRW(&signal_of(turn)->changed, &signal_of(turn)->lock, INFINITE, 0);
}

void wake_turn_waiters(band_turn* turn) { WakeAllConditionVariable(&signal_of(turn)->changed); }
