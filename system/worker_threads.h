// Threads for the bands of one run, from the system's own thread calls
// (worker_threads_platform.h: worker_threads_posix.cpp or
// worker_threads_windows.cpp, chosen by the build), and a turn they pass
// from band to band for what must be done in order. Nothing here keeps
// state between calls or allocates memory: the threads live in
// run_on_threads' own frame, and each turn is its caller's.
#pragma once

#include <cstddef>
#include <cstdint>

// The most threads one run is shared among.
constexpr int most_worker_threads = 64;

// Runs work(context, index) for every index from 0 to count - 1 at once:
// index 0 on the calling thread, the others on threads of their own, and
// returns when every one has returned. An index whose thread cannot be
// started runs nowhere. Returns how many ran.
int run_on_threads(int count, void (*work)(void* context, int index), void* context);

// Room for the system's lock and condition, which the system's file keeps
// in it (each checks that its own fit).
constexpr std::size_t turn_signal_bytes = 128;

// A turn that threads pass from one number to the next: each waits for
// its number, does what must be done in order, and passes the turn on.
struct band_turn {
  alignas(8) unsigned char signal[turn_signal_bytes];
  std::uint64_t current;  // guarded by the signal's lock
  bool stopped;
};

// Makes the turn 0, stopped by nobody. Every turn opened is closed once no
// thread waits for it.
void open_turn(band_turn* turn);
void close_turn(band_turn* turn);

// Waits until the turn is number; false when the turn was stopped instead.
bool wait_for_turn(band_turn* turn, std::uint64_t number);

// Makes next the turn and wakes the threads waiting for it.
void pass_turn(band_turn* turn, std::uint64_t next);

// Stops the turn: every thread waiting, or waiting later, gets false.
void stop_turn(band_turn* turn);
