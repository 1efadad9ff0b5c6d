// Helpers for tests that drive the bridge through the JVM and look at the
// simulated component behind it.
//
//   Global component = new_component();          // puente.ScanMontura.create()
//   Global dispatch = bind_dispatch(component);  // an IScanMontura bound from it
//   ComPtr<ISimControl> sim = sim_control(dispatch);
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

#include "jvm.h"
#include "scanmontura_sim.h"

namespace jtz::test {

// Owns a JNI global reference.
class Global {
 public:
  Global() = default;
  explicit Global(jobject local);  // takes a global reference, deletes the local one
  Global(Global&& o) noexcept : ref_(o.ref_) { o.ref_ = nullptr; }
  Global& operator=(Global&& o) noexcept;
  Global(const Global&) = delete;
  Global& operator=(const Global&) = delete;
  ~Global();
  jobject get() const { return ref_; }
  operator jobject() const { return ref_; }

 private:
  jobject ref_ = nullptr;
};

// A COM reference for tests.
template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  explicit Ref(T* q) : p(q) {}
  Ref(Ref&& o) noexcept : p(o.p) { o.p = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    std::swap(p, o.p);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T* get() const { return p; }
};

jint com_id(jobject wrapper);
void set_com_id(jobject wrapper, jint value);
jint event_id(jobject listener);

// The object behind a bound wrapper's com-id field (no reference added).
IUnknown* com_object(jobject wrapper);

// puente.ScanMontura.create(), and an IScanMontura / IScanMonturaEvents bound from it.
Global new_component();
Global bind_dispatch(jobject component);
Ref<ISimControl> sim_control(jobject wrapper);

// A new instance of a test class (jtztest.X) through its no-argument constructor.
Global new_object(const char* slashClass);

// The lines of a jtztest.Recorder field "calls" of a listener.
std::vector<std::string> recorded(jobject listener);

// Java string to std::string (UTF-8 of the modified UTF-8 form; tests use ASCII).
std::string str(jstring s);

std::string guid_text(const GUID& g);

}  // namespace jtz::test
