#include "sync.h"

#include <new>

#include <cstdlib>

#if defined(_WIN32)

namespace sim {

Mutex::Mutex() { InitializeSRWLock(&lock_); }
Mutex::~Mutex() = default;
void Mutex::Acquire() { AcquireSRWLockExclusive(&lock_); }
void Mutex::Release() { ReleaseSRWLockExclusive(&lock_); }

uint64_t NowMs() { return GetTickCount64(); }

unsigned long ThreadNumber() { return GetCurrentThreadId(); }

CondVar::CondVar() { InitializeConditionVariable(&cv_); }
CondVar::~CondVar() = default;
void CondVar::Wait(Lock& lock) {
  SleepConditionVariableSRW(&cv_, &lock.mutex().lock_, INFINITE, 0);
}
bool CondVar::WaitUntil(Lock& lock, uint64_t deadlineMs) {
  uint64_t now = NowMs();
  if (now >= deadlineMs) return false;
  SleepConditionVariableSRW(&cv_, &lock.mutex().lock_, static_cast<DWORD>(deadlineMs - now), 0);
  return NowMs() < deadlineMs;
}
void CondVar::NotifyAll() { WakeAllConditionVariable(&cv_); }

namespace {
struct StartBlock {
  Thread::Entry entry;
  void* arg;
};
DWORD WINAPI ThreadMain(LPVOID p) {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  block.entry(block.arg);
  return 0;
}
}  // namespace

Thread::~Thread() {
  if (started_) std::abort();
}
bool Thread::Start(Entry entry, void* arg) {
  StartBlock* block = new (std::nothrow) StartBlock{entry, arg};
  if (!block) return false;
  handle_ = CreateThread(nullptr, 0, &ThreadMain, block, 0, nullptr);
  if (!handle_) {
    delete block;
    return false;
  }
  started_ = true;
  return true;
}
void Thread::Join() {
  if (!started_) return;
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
  started_ = false;
}
void Thread::Detach() {
  if (!started_) return;
  CloseHandle(handle_);
  started_ = false;
}

}  // namespace sim

#else  // POSIX

#include <atomic>
#include <ctime>

namespace sim {

unsigned long ThreadNumber() {
  static std::atomic<unsigned long> next{1};
  thread_local const unsigned long mine = next++;
  return mine;
}

Mutex::Mutex() { pthread_mutex_init(&lock_, nullptr); }
Mutex::~Mutex() { pthread_mutex_destroy(&lock_); }
void Mutex::Acquire() { pthread_mutex_lock(&lock_); }
void Mutex::Release() { pthread_mutex_unlock(&lock_); }

uint64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

CondVar::CondVar() {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&cv_, &attr);
  pthread_condattr_destroy(&attr);
}
CondVar::~CondVar() { pthread_cond_destroy(&cv_); }
void CondVar::Wait(Lock& lock) { pthread_cond_wait(&cv_, &lock.mutex().lock_); }
bool CondVar::WaitUntil(Lock& lock, uint64_t deadlineMs) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(deadlineMs / 1000u);
  ts.tv_nsec = static_cast<long>((deadlineMs % 1000u) * 1000000u);
  pthread_cond_timedwait(&cv_, &lock.mutex().lock_, &ts);
  return NowMs() < deadlineMs;
}
void CondVar::NotifyAll() { pthread_cond_broadcast(&cv_); }

namespace {
struct StartBlock {
  Thread::Entry entry;
  void* arg;
};
void* ThreadMain(void* p) {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  block.entry(block.arg);
  return nullptr;
}
}  // namespace

Thread::~Thread() {
  if (started_) std::abort();
}
bool Thread::Start(Entry entry, void* arg) {
  StartBlock* block = new (std::nothrow) StartBlock{entry, arg};
  if (!block) return false;
  if (pthread_create(&handle_, nullptr, &ThreadMain, block) != 0) {
    delete block;
    return false;
  }
  started_ = true;
  return true;
}
void Thread::Join() {
  if (!started_) return;
  pthread_join(handle_, nullptr);
  started_ = false;
}
void Thread::Detach() {
  if (!started_) return;
  pthread_detach(handle_);
  started_ = false;
}

}  // namespace sim

#endif
