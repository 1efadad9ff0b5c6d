// Owners for the benchmark natives: a BSTR, a COM reference, a JNI global reference.
//
//   Bstr text(SysAllocStringLen(chars, n));     // SysFreeString at the end of the scope
//   ComPtr<ISimControl> sim; unknown->QueryInterface(IID_ISimControl, sim.put());
//   GlobalRef listener(env, obj);               // DeleteGlobalRef at the end of the scope
//   LocalRef<jclass> cls(env, env->GetObjectClass(obj));   // DeleteLocalRef likewise
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <utility>

namespace jtzbench {

class Bstr {
 public:
  explicit Bstr(BSTR b) : b_(b) {}
  Bstr(Bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr& operator=(Bstr&&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR get() const { return b_; }
  explicit operator bool() const { return b_ != nullptr; }

 private:
  BSTR b_;
};

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
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

// A JNI global reference, usable from any attached thread while it lives.
class GlobalRef {
 public:
  GlobalRef(JNIEnv* env, jobject local) : env_(env), ref_(env->NewGlobalRef(local)) {}
  GlobalRef(const GlobalRef&) = delete;
  GlobalRef& operator=(const GlobalRef&) = delete;
  ~GlobalRef() {
    if (ref_) env_->DeleteGlobalRef(ref_);
  }
  jobject get() const { return ref_; }

 private:
  JNIEnv* env_;  // the creating thread's, which also ends the reference
  jobject ref_;
};

// A JNI local reference, deleted at the end of the scope (loops make many).
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

 private:
  JNIEnv* env_;
  T ref_;
};

}  // namespace jtzbench
