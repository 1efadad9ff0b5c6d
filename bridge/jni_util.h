// Small JNI and COM owners and helpers shared by every native.
//
//   ScopedStringChars chars(env, jstr);      // GetStringChars/ReleaseStringChars
//   ScopedUtfChars utf(env, jstr);           // GetStringUTFChars/ReleaseStringUTFChars
//   LocalRef<jclass> cls(env, env->GetObjectClass(obj));
//   throw_new(env, kNullPointer, "Argument 1 is null"); return zero_value<jobject>();
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <cstdint>
#include <utility>

#include "runtime.h"

namespace jtz {

inline constexpr char kNullPointer[] = "java/lang/NullPointerException";
inline constexpr char kIllegalState[] = "java/lang/IllegalStateException";
inline constexpr char kIllegalArgument[] = "java/lang/IllegalArgumentException";
inline constexpr char kInstantiation[] = "java/lang/InstantiationException";

// Raises a new exception of the named class, found through the runtime.
inline void throw_new(JNIEnv* env, const char* slashClass, const char* message) {
  jclass cls = ezjcomFindClass(env, slashClass);
  if (cls) env->ThrowNew(cls, message);
}

// What a native returns when it ends without a result.
template <class R>
constexpr R zero_value() {
  return R{};
}
template <>
constexpr void zero_value<void>() {}

// A pending fatal error of the runtime: the low byte of its answer counts.
inline bool fatal_error(JNIEnv* env) { return (ezjcomCheckFatalError(env) & 0xFF) != 0; }

// A use of the COM object bound to a wrapper's com-id field
// (ezjcomEnterComId): the object stays while the use lasts, whatever other
// threads do to the wrapper meanwhile; ended at the end of the scope.
//
//   ComIdUse binding(env, self);
//   if (!binding) { throw_unusable(env, binding.status()); return zero_value<R>(); }
//   binding.get<IDispatch>()->...
class ComIdUse {
 public:
  ComIdUse(JNIEnv* env, jobject wrapper) : status_(ezjcomEnterComId(env, wrapper, &use_)) {}
  ComIdUse(const ComIdUse&) = delete;
  ComIdUse& operator=(const ComIdUse&) = delete;
  ~ComIdUse() { ezjcomLeaveComId(&use_); }
  explicit operator bool() const { return status_ == EZJCOM_USE_OK; }
  int status() const { return status_; }
  jint value() const { return use_.value; }  // the field value the use was taken from
  // The bound interface, which the wrapper's binding made: an IDispatch for
  // the interface wrappers, the creation's interface for a component wrapper.
  template <class T>
  T* get() const {
    return static_cast<T*>(use_.object);
  }

 private:
  EzjcomComUse use_{};
  int status_;
};

inline constexpr char kStaleComId[] =
    "JComObject holds no live COM object (its comId was not bound by the runtime)";

// What a use that could not be had means to Java: an unbound (or closed)
// wrapper, or a field value the runtime has no binding for.
inline void throw_unusable(JNIEnv* env, int status) {
  if (status == EZJCOM_USE_STALE)
    throw_new(env, kIllegalState, kStaleComId);
  else
    throw_new(env, kNullPointer, "Uninitialized JComObject");
}

// Owns a JNI local reference; deletes it at the end of the scope.
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
  T release() { return std::exchange(ref_, nullptr); }
  void reset(T ref) {
    if (ref_) env_->DeleteLocalRef(ref_);
    ref_ = ref;
  }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  JNIEnv* env_;
  T ref_;
};

// The UTF-16 characters of a Java string, or null for a null string.
class ScopedStringChars {
 public:
  ScopedStringChars(JNIEnv* env, jstring s)
      : env_(env), s_(s), chars_(s ? env->GetStringChars(s, nullptr) : nullptr) {}
  ScopedStringChars(const ScopedStringChars&) = delete;
  ScopedStringChars& operator=(const ScopedStringChars&) = delete;
  ~ScopedStringChars() { reset(); }
  const jchar* get() const { return chars_; }
  void reset() {
    if (chars_) env_->ReleaseStringChars(s_, chars_);
    chars_ = nullptr;
  }

 private:
  JNIEnv* env_;
  jstring s_;
  const jchar* chars_;
};

// The modified UTF-8 characters of a Java string (which must not be null).
class ScopedUtfChars {
 public:
  ScopedUtfChars(JNIEnv* env, jstring s)
      : env_(env), s_(s), chars_(env->GetStringUTFChars(s, nullptr)) {}
  ScopedUtfChars(const ScopedUtfChars&) = delete;
  ScopedUtfChars& operator=(const ScopedUtfChars&) = delete;
  ~ScopedUtfChars() { reset(); }
  const char* get() const { return chars_; }
  explicit operator bool() const { return chars_ != nullptr; }
  void reset() {
    if (chars_) env_->ReleaseStringUTFChars(s_, chars_);
    chars_ = nullptr;
  }

 private:
  JNIEnv* env_;
  jstring s_;
  const char* chars_;
};

// Owns one COM reference.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : p_(p) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T* release() { return std::exchange(p_, nullptr); }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  // Frees the old value and gives the address to fill.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

}  // namespace jtz
