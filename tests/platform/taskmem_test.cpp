// The COM task allocator: alignment, low addresses on x86-64, reuse, threads.
#include <algorithm>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "test_util.h"

namespace {

constexpr bool kLowAddresses = sizeof(void*) == 8;  // x86-64: below 2 GiB

bool fits_java_int(const void* p) { return reinterpret_cast<uintptr_t>(p) < (uintptr_t{1} << 31); }

TEST(CoTaskMem, BlocksAreAlignedWritableAndLowOnX8664) {
  std::vector<void*> blocks;
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{100}, size_t{4096},
        size_t{32768}, size_t{32769}, size_t{1} << 20, size_t{5} << 20}) {
    void* p = CoTaskMemAlloc(size);
    ASSERT_NE(p, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
    if (kLowAddresses) {
      EXPECT_TRUE(fits_java_int(p)) << size << " at " << p;
    }
    if (size) {
      std::memset(p, 0x5A, size);  // all of it belongs to the block
      EXPECT_EQ(static_cast<unsigned char*>(p)[size - 1], 0x5A);
    }
    blocks.push_back(p);
  }
  for (void* p : blocks) CoTaskMemFree(p);
  CoTaskMemFree(nullptr);
}

TEST(CoTaskMem, FreedBlocksAreReused) {
  if (!kLowAddresses) GTEST_SKIP() << "the C heap decides reuse here";
  // More blocks than fit one region: freeing and allocating them again must
  // not take new memory from the scarce space below 2 GiB.
  std::vector<void*> first;
  for (int i = 0; i < 20000; ++i) first.push_back(CoTaskMemAlloc(96));
  for (void* p : first) CoTaskMemFree(p);
  std::vector<void*> second;
  for (int i = 0; i < 20000; ++i) second.push_back(CoTaskMemAlloc(100));  // same size class
  std::sort(first.begin(), first.end());
  std::sort(second.begin(), second.end());
  EXPECT_EQ(first, second);
  for (void* p : second) CoTaskMemFree(p);

  void* a = CoTaskMemAlloc(40);
  CoTaskMemFree(a);
  EXPECT_EQ(CoTaskMemAlloc(40), a);  // the block just freed comes back first
  CoTaskMemFree(a);
}

TEST(CoTaskMem, ManyThreadsAllocateAndFreeTogether) {
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937 random(t);
      std::vector<std::pair<unsigned char*, size_t>> held;
      for (int i = 0; i < kRounds; ++i) {
        if (held.size() < 64 && random() % 3 != 0) {
          const size_t size = 1 + random() % (random() % 50 == 0 ? 100000 : 2000);
          auto* p = static_cast<unsigned char*>(CoTaskMemAlloc(size));
          if (!p || (kLowAddresses && !fits_java_int(p))) {
            ++failures[t];
            continue;
          }
          std::memset(p, t + 1, size);
          held.emplace_back(p, size);
        } else if (!held.empty()) {
          const size_t victim = random() % held.size();
          auto [p, size] = held[victim];
          // Nobody else wrote into this block while this thread held it.
          for (size_t k = 0; k < size; k += 61)
            if (p[k] != t + 1) ++failures[t];
          CoTaskMemFree(p);
          held[victim] = held.back();
          held.pop_back();
        }
      }
      for (auto [p, size] : held) CoTaskMemFree(p);
    });
  }
  for (auto& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST(CoTaskMemDeathTest, DoubleFreeIsCaught) {
  if (!kLowAddresses) GTEST_SKIP() << "the C heap decides what a double free does";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  void* p = CoTaskMemAlloc(64);
  CoTaskMemFree(p);
  EXPECT_DEATH(CoTaskMemFree(p), "");
}

#if defined(__SANITIZE_ADDRESS__)
TEST(CoTaskMemDeathTest, UseAfterFreeIsReportedBySanitizer) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto* p = static_cast<volatile char*>(CoTaskMemAlloc(64));
  CoTaskMemFree(const_cast<char*>(p));
  EXPECT_DEATH(p[8] = 1, "use-after-poison|use-after-free");
}

TEST(CoTaskMemDeathTest, OverflowPastTheRequestedSizeIsReportedBySanitizer) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto* p = static_cast<volatile char*>(CoTaskMemAlloc(20));  // in the 32-byte class
  p[19] = 1;
  EXPECT_DEATH(p[20] = 1, "use-after-poison|buffer-overflow");
  CoTaskMemFree(const_cast<char*>(p));
}
#endif

}  // namespace
