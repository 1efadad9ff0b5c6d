// Mutex, condition variable and thread for the simulated component.
//
// Thin wrappers over pthreads on POSIX and over SRW locks, condition variables
// and CreateThread on Windows (the Windows build uses mingw's win32 thread
// model, which has no std::thread). Usage:
//
//   sim::Mutex mu;  sim::CondVar cv;
//   { sim::Lock lock(mu); while (!ready) cv.Wait(lock); }
//   sim::Thread t;  if (!t.Start(&Run, arg)) ...;  t.Join();
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace sim {

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Acquire();
  void Release();

 private:
  friend class CondVar;
#if defined(_WIN32)
  SRWLOCK lock_;
#else
  pthread_mutex_t lock_;
#endif
};

// Holds a Mutex for its scope; Unlock/Relock open a window inside it.
class Lock {
 public:
  explicit Lock(Mutex& mu) : mu_(mu) { mu_.Acquire(); }
  ~Lock() {
    if (held_) mu_.Release();
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Unlock() {
    mu_.Release();
    held_ = false;
  }
  void Relock() {
    mu_.Acquire();
    held_ = true;
  }
  Mutex& mutex() { return mu_; }

 private:
  Mutex& mu_;
  bool held_ = true;
};

// Milliseconds of a monotonic clock.
uint64_t NowMs();

// The calling thread's number: its thread identifier on Windows, elsewhere a
// number of this process's own (1, 2, ... in the order threads first ask).
unsigned long ThreadNumber();

class CondVar {
 public:
  CondVar();
  ~CondVar();
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  void Wait(Lock& lock);
  // Waits until notified or until the monotonic clock reaches deadlineMs;
  // false when the deadline has passed.
  bool WaitUntil(Lock& lock, uint64_t deadlineMs);
  void NotifyAll();

 private:
#if defined(_WIN32)
  CONDITION_VARIABLE cv_;
#else
  pthread_cond_t cv_;
#endif
};

class Thread {
 public:
  using Entry = void (*)(void* arg);
  Thread() = default;
  ~Thread();  // a started thread must have been joined or detached
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  bool Start(Entry entry, void* arg);
  bool started() const { return started_; }
  void Join();
  void Detach();

 private:
  bool started_ = false;
#if defined(_WIN32)
  HANDLE handle_ = nullptr;
#else
  pthread_t handle_{};
#endif
};

}  // namespace sim
