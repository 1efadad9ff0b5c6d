// Allocations that fail on demand, for tests of what no C++ exception may
// leave. A program that links failing_new.cpp replaces the global operator
// new (shared libraries it loads allocate through it too); while a
// FailingAllocations object lives, larger allocations throw std::bad_alloc.
//
//   {
//     FailingAllocations failing(kEveryAllocation);
//     hr = component->Advise(sink, &cookie);   // E_OUTOFMEMORY, nothing thrown
//   }
#pragma once

#include <cstddef>

namespace jtz::test {

inline constexpr std::size_t kEveryAllocation = 1;  // all but single bytes
inline constexpr std::size_t kLargeAllocations = 64 * 1024;

class FailingAllocations {
 public:
  // Allocations of more than `limit` bytes fail for the object's scope.
  explicit FailingAllocations(std::size_t limit);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;
};

}  // namespace jtz::test
