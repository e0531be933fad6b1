// What worker_threads.cpp asks of each system (worker_threads_posix.cpp,
// worker_threads_windows.cpp): starting and joining threads, and a lock
// with one condition, kept in a turn's signal bytes. Nothing here
// allocates memory.
#pragma once

#include <cstdint>

#include "system/worker_threads.h"

// One call of run_on_threads's work on a thread of its own, and the
// system's handle of that thread while it runs.
struct worker_call {
  void (*work)(void* context, int index);
  void* context;
  int index;
  std::uintptr_t thread;
};

// Starts call on a new thread, its handle kept in call until joined; false
// when none can be started.
bool start_worker_thread(worker_call* call);
void join_worker_thread(worker_call* call);

// The turn's lock and condition, made in and removed from its signal bytes.
void open_turn_signal(band_turn* turn);
void close_turn_signal(band_turn* turn);
void lock_turn(band_turn* turn);
void unlock_turn(band_turn* turn);
// Called with the lock held: releases it until the turn may have changed.
void wait_for_turn_change(band_turn* turn);
void wake_turn_waiters(band_turn* turn);
