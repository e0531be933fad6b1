// Threads for the bands of one run, from the system's own thread calls
// (worker_threads_platform.h: worker_threads_posix.cpp or
// worker_threads_windows.cpp, chosen by the build), and one turn they pass
// from band to band for the outputs that take their bytes only in order.
// Nothing here allocates memory.
#pragma once

#include <cstdint>

// The most threads one run is shared among.
constexpr int most_worker_threads = 64;

// Runs work(context, index) for every index from 0 to count - 1 at once:
// index 0 on the calling thread, the others on threads of their own, and
// returns when every one has returned. An index whose thread cannot be
// started runs nowhere. Returns how many ran.
int run_on_threads(int count, void (*work)(void* context, int index), void* context);

// The turn starts at 0 and nobody has stopped it.
void reset_turns();

// Waits until the turn is turn; false when the turns were stopped instead.
bool wait_for_turn(std::uint64_t turn);

// Makes next the turn and wakes the threads waiting for it.
void pass_turn(std::uint64_t next);

// Stops the turns: every thread waiting, or waiting later, gets false.
void stop_turns();
