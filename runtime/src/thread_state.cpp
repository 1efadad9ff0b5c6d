#include "thread_state.h"

#include <atomic>
#include <cstdio>

namespace ezjcom {
namespace {

// A pending fatal error counts only while its generation is the current one,
// so that clear_all_fatal() can drop those of other threads too.
std::atomic<unsigned> g_fatal_generation{1};

std::atomic<unsigned long> g_attached_names{0};

// Set once any thread has had a fatal error: until then every check answers
// without reaching the thread's own state. A thread reads its own store to
// it in program order, so no thread misses its own fatal error.
std::atomic<bool> g_fatal_raised{false};

struct ThreadState {
  unsigned fatal_generation = 0;  // 0: none pending
};

ThreadState& state() {
  static thread_local ThreadState s;
  return s;
}

}  // namespace

void set_fatal() {
  g_fatal_raised.store(true, std::memory_order_relaxed);
  state().fatal_generation = g_fatal_generation.load(std::memory_order_acquire);
}

bool take_fatal() {
  if (!g_fatal_raised.load(std::memory_order_relaxed)) return false;
  ThreadState& s = state();
  if (s.fatal_generation == 0) return false;
  const bool current = s.fatal_generation == g_fatal_generation.load(std::memory_order_acquire);
  s.fatal_generation = 0;
  return current;
}

void clear_all_fatal() { g_fatal_generation.fetch_add(1, std::memory_order_acq_rel); }

void attached_thread_name(char* buffer, std::size_t size) {
  const unsigned long n = g_attached_names.fetch_add(1, std::memory_order_relaxed) + 1;
  static_cast<void>(std::snprintf(buffer, size, "COM event thread %lu (EZJcomLib18)", n));
}

}  // namespace ezjcom
