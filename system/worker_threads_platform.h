// What worker_threads.cpp asks of each system (worker_threads_posix.cpp,
// worker_threads_windows.cpp): starting and joining threads, and one lock
// with one condition for the turn. Nothing here allocates memory.
#pragma once

// One call of run_on_threads's work on a thread of its own.
struct worker_call {
  void (*work)(void* context, int index);
  void* context;
  int index;
};

// Starts call on a new thread, kept in slot (below most_worker_threads)
// until joined; false when none can be started.
bool start_worker_thread(int slot, const worker_call* call);
void join_worker_thread(int slot);

void lock_turns();
void unlock_turns();
// Called with the lock held: releases it until the turn may have changed.
void wait_for_turn_change();
void wake_turn_waiters();
