#include <pthread.h>

#include "system/worker_threads.h"

namespace {

pthread_mutex_t turn_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t turn_changed = PTHREAD_COND_INITIALIZER;
std::uint64_t current_turn = 0;
bool turns_stopped = false;

struct worker {
  void (*work)(void*, int);
  void* context;
  int index;
};

void* run_worker(void* argument) {
  const worker* w = static_cast<const worker*>(argument);
  w->work(w->context, w->index);
  return nullptr;
}

}  // namespace

int run_on_threads(int count, void (*work)(void* context, int index), void* context) {
  if (count > most_worker_threads) {
    count = most_worker_threads;
  }
  worker workers[most_worker_threads];
  pthread_t threads[most_worker_threads];
  int started = 0;
  for (int index = 1; index < count; ++index) {
    workers[started] = worker{work, context, index};
    if (pthread_create(&threads[started], nullptr, run_worker, &workers[started]) != 0) {
      break;
    }
    ++started;
  }
  work(context, 0);
  for (int i = 0; i < started; ++i) {
    pthread_join(threads[i], nullptr);
  }
  return started + 1;
}

void reset_turns() {
  pthread_mutex_lock(&turn_lock);
  current_turn = 0;
  turns_stopped = false;
  pthread_mutex_unlock(&turn_lock);
}

bool wait_for_turn(std::uint64_t turn) {
  pthread_mutex_lock(&turn_lock);
  while (current_turn != turn && !turns_stopped) {
    pthread_cond_wait(&turn_changed, &turn_lock);
  }
  const bool mine = !turns_stopped;
  pthread_mutex_unlock(&turn_lock);
  return mine;
}

void pass_turn(std::uint64_t next) {
  pthread_mutex_lock(&turn_lock);
  current_turn = next;
  pthread_cond_broadcast(&turn_changed);
  pthread_mutex_unlock(&turn_lock);
}

void stop_turns() {
  pthread_mutex_lock(&turn_lock);
  turns_stopped = true;
  pthread_cond_broadcast(&turn_changed);
  pthread_mutex_unlock(&turn_lock);
}
