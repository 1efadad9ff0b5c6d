#include "failing_new.h"

#include <dlfcn.h>

#include <atomic>
#include <new>

namespace jtz::test {
namespace {

std::atomic<std::size_t> g_fail_above{0};  // 0: nothing fails

using NewFn = void* (*)(std::size_t);

// The operator new this program stands in front of (the C++ library's, or a
// sanitizer's): each allocation then goes back through the operator delete
// that belongs to it, which this program leaves alone.
NewFn next(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  return reinterpret_cast<NewFn>(found);
}

void* allocate(std::size_t n, bool array) {
  const std::size_t limit = g_fail_above.load(std::memory_order_relaxed);
  if (limit != 0 && n > limit) throw std::bad_alloc();
  constexpr bool wide = sizeof(std::size_t) == 8;
  static const NewFn plain = next(wide ? "_Znwm" : "_Znwj");
  static const NewFn arrays = next(wide ? "_Znam" : "_Znaj");
  return (array ? arrays : plain)(n);
}

}  // namespace

FailingAllocations::FailingAllocations(std::size_t limit) { g_fail_above = limit; }
FailingAllocations::~FailingAllocations() { g_fail_above = 0; }

}  // namespace jtz::test

void* operator new(std::size_t n) { return jtz::test::allocate(n, false); }
void* operator new[](std::size_t n) { return jtz::test::allocate(n, true); }
