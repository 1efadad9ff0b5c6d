// Replaces JNI functions for the calling thread, so that a test can make one
// of them fail where the JVM would fail only under memory pressure.
//
//   JniOverride jni(env);                 // the thread's table, copied and installed
//   jni.table().NewObjectArray = [](JNIEnv* e, jsize n, jclass c, jobject i) -> jobjectArray {
//     return JniOverride::out_of_memory(e), nullptr;
//   };
//   ... call the native ...               // its JNI calls go through the copy
//                                          // the original table is back at scope end
//
// A replacement reaches the real function through JniOverride::original(),
// with the same JNIEnv (the JVM's checks know the thread by it).
#pragma once

#include <jni.h>

namespace jtz::test {

class JniOverride {
 public:
  explicit JniOverride(JNIEnv* env);
  ~JniOverride();
  JniOverride(const JniOverride&) = delete;
  JniOverride& operator=(const JniOverride&) = delete;

  JNINativeInterface_& table() { return copy_; }

  // The table the thread had, for replacements to pass calls on.
  static const JNINativeInterface_& original();
  // Raises java.lang.OutOfMemoryError, as a failed JNI allocation does.
  static void out_of_memory(JNIEnv* env);

 private:
  JNIEnv* env_;
  const JNINativeInterface_* saved_;
  JNINativeInterface_ copy_;
};

}  // namespace jtz::test
