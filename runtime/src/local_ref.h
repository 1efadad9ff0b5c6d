// Owns one JNI local reference and deletes it at the end of its scope.
//
//   LocalRef<jclass> cls(env, env->GetObjectClass(obj));
//   if (!cls) return 0;
#pragma once

#include <jni.h>

#include <utility>

namespace ezjcom {

template <class T>
class LocalRef {
 public:
  LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;
  ~LocalRef() {
    if (ref_) env_->DeleteLocalRef(ref_);
  }

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // Hands the reference to the caller (for a native's result).
  T release() { return std::exchange(ref_, nullptr); }

 private:
  JNIEnv* env_;
  T ref_;
};

}  // namespace ezjcom
