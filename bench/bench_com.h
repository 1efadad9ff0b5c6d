// Owners for the benchmark natives: a BSTR and a JNI global reference, plus the
// bridge's COM-reference and local-reference owners.
//
//   Bstr text(SysAllocStringLen(chars, n));     // SysFreeString at the end of the scope
//   ComPtr<ISimControl> sim; unknown->QueryInterface(IID_ISimControl, sim.put());
//   GlobalRef listener(env, obj);               // DeleteGlobalRef at the end of the scope
//   LocalRef<jclass> cls(env, env->GetObjectClass(obj));   // DeleteLocalRef likewise
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <utility>

#include "jni_util.h"

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

// The bridge's own owners of a COM reference and a JNI local reference.
using jtz::ComPtr;
using jtz::LocalRef;

}  // namespace jtzbench
