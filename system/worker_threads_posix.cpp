#include <pthread.h>

#include "system/worker_threads.h"
#include "system/worker_threads_platform.h"

namespace {

pthread_t threads[most_worker_threads];
pthread_mutex_t turn_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t turn_changed = PTHREAD_COND_INITIALIZER;

void* run_call(void* argument) {
  const auto* call = static_cast<const worker_call*>(argument);
  call->work(call->context, call->index);
  return nullptr;
}

}  // namespace

bool start_worker_thread(int slot, const worker_call* call) {
  return pthread_create(&threads[slot], nullptr, run_call, const_cast<worker_call*>(call)) == 0;
}

void join_worker_thread(int slot) { pthread_join(threads[slot], nullptr); }

void lock_turns() { pthread_mutex_lock(&turn_lock); }

void unlock_turns() { pthread_mutex_unlock(&turn_lock); }

void wait_for_turn_change() { pthread_cond_wait(&turn_changed, &turn_lock); }

void wake_turn_waiters() { pthread_cond_broadcast(&turn_changed); }
