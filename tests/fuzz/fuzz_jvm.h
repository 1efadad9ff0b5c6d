// The JVM of a fuzzing target: created once per process, with -Xcheck:jni, every message of
// which is watched, so that a warning stops the run as a crash would.
//
//   JNIEnv* env = jtz::fuzz::start_jvm();      // in LLVMFuzzerInitialize
//   static jtz::fuzz::ReferenceWatch watch(run_one);
//   run_one(data, size); watch.after(data, size);   // each input
//   jtz::fuzz::check_jni_clean("after Invoke"); // aborts on any -Xcheck:jni warning so far
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jtz::fuzz {

// Creates the JVM (class path: the jar and the fuzzing classes; library path: the build's) on
// the calling thread and returns its environment. Aborts when it cannot.
JNIEnv* start_jvm();

// Aborts, naming `where`, when the JVM has printed a JNI warning or error.
void check_jni_clean(const char* where);

// Stops the run with a message: a property of the target was broken.
[[noreturn]] void broken(const char* what, const char* detail = nullptr);

// JNI references: the calling thread's local ones and all global ones (a walk of the heap's
// roots through the tool interface, about a millisecond).
struct References {
  long local = 0;
  long global = 0;
  bool operator==(const References& o) const { return local == o.local && global == o.global; }
};
References count_references();

// Checks that inputs leave no JNI reference behind. The references are counted after every
// kBatch inputs (after each one with JTZ_FUZZ_EXACT set); when they grew, the inputs of the
// batch are run again one by one, and the first that leaves references is written to
// $JTZ_FUZZ_ARTIFACTS"leak-references" and stops the run.
class ReferenceWatch {
 public:
  static constexpr size_t kBatch = 256;
  using Run = void (*)(const uint8_t* data, size_t size);
  explicit ReferenceWatch(Run run) : run_(run) {}
  void after(const uint8_t* data, size_t size);

 private:
  Run run_;
  bool counted_ = false;
  References start_;
  std::vector<std::vector<uint8_t>> recent_;
};

}  // namespace jtz::fuzz
