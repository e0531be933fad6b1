#include "system/worker_threads.h"

#include "system/worker_threads_platform.h"

int run_on_threads(int count, void (*work)(void* context, int index), void* context) {
  if (count > most_worker_threads) {
    count = most_worker_threads;
  }
  worker_call calls[most_worker_threads];
  int started = 0;
  for (int index = 1; index < count; ++index) {
    calls[started] = worker_call{work, context, index, 0};
    if (!start_worker_thread(&calls[started])) {
      break;
    }
    ++started;
  }
  work(context, 0);
  for (int slot = 0; slot < started; ++slot) {
    join_worker_thread(&calls[slot]);
  }
  return started + 1;
}

void open_turn(band_turn* turn) {
  turn->current = 0;
  turn->stopped = false;
  open_turn_signal(turn);
}

void close_turn(band_turn* turn) { close_turn_signal(turn); }

bool wait_for_turn(band_turn* turn, std::uint64_t number) {
  lock_turn(turn);
  while (turn->current != number && !turn->stopped) {
    wait_for_turn_change(turn);
  }
  const bool mine = !turn->stopped;
  unlock_turn(turn);
  return mine;
}

void pass_turn(band_turn* turn, std::uint64_t next) {
  lock_turn(turn);
  turn->current = next;
  unlock_turn(turn);
  wake_turn_waiters(turn);
}

void stop_turn(band_turn* turn) {
  lock_turn(turn);
  turn->stopped = true;
  unlock_turn(turn);
  wake_turn_waiters(turn);
}
