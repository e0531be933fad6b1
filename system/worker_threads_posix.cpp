#include <pthread.h>

#include <cstring>
#include <new>

#include "system/worker_threads.h"
#include "system/worker_threads_platform.h"

namespace {

struct turn_signal {
  pthread_mutex_t lock;
  pthread_cond_t changed;
};
static_assert(sizeof(turn_signal) <= turn_signal_bytes && alignof(turn_signal) <= 8,
              "a turn's signal bytes hold the lock and condition");
static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t), "a call holds its thread's handle");

turn_signal* signal_of(band_turn* turn) {
  return std::launder(reinterpret_cast<turn_signal*>(turn->signal));
}

pthread_t thread_of(const worker_call* call) {
  pthread_t thread;
  std::memcpy(&thread, &call->thread, sizeof thread);
  return thread;
}

void* run_call(void* argument) {
  const auto* call = static_cast<const worker_call*>(argument);
  call->work(call->context, call->index);
  return nullptr;
}

}  // namespace

bool start_worker_thread(worker_call* call) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, run_call, call) != 0) {
    return false;
  }
  std::memcpy(&call->thread, &thread, sizeof thread);
  return true;
}

void join_worker_thread(worker_call* call) { pthread_join(thread_of(call), nullptr); }

void open_turn_signal(band_turn* turn) {
  auto* signal = new (turn->signal) turn_signal;
  pthread_mutex_init(&signal->lock, nullptr);
  pthread_cond_init(&signal->changed, nullptr);
}

void close_turn_signal(band_turn* turn) {
  pthread_cond_destroy(&signal_of(turn)->changed);
  pthread_mutex_destroy(&signal_of(turn)->lock);
}

void lock_turn(band_turn* turn) { pthread_mutex_lock(&signal_of(turn)->lock); }

void unlock_turn(band_turn* turn) { pthread_mutex_unlock(&signal_of(turn)->lock); }

void wait_for_turn_change(band_turn* turn) {
  pthread_cond_wait(&signal_of(turn)->changed, &signal_of(turn)->lock);
}

void wake_turn_waiters(band_turn* turn) { pthread_cond_broadcast(&signal_of(turn)->changed); }
