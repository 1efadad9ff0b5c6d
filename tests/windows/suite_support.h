// What the apartment and out-of-process suites share: the natives they call,
// wrappers made and given back through them, and calls to the simulated
// component's control interface (ISimControl) through IDispatch. The control
// is reached across apartments or processes, where only dispatch calls are
// marshaled by the type library; a suite's own class gets hold of it
// (attached to a component, or making one) and stores it in face_.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "host_classes.h"
#include "host_support.h"
#include "scanmontura_interface.h"

namespace wh {

// The JNI names of the natives the suites call (the host finds each under the
// name its machine's JVM would look up).
inline const std::string kAdvise = "Java_ezjcom_JComObject__1_1JComAdvise";
inline const std::string kUnadvise = "Java_ezjcom_JComObject__1_1JComUnadvise";
inline const std::string kRelease = "Java_ezjcom_JComObject__1_1JComRelease";
inline const std::string kCreate = "Java_puente_ScanMontura__1_1JComCreateObject__ZZ";
inline const std::string kLoad = "Java_puente_IScanMontura__1_1JComLoad__Lezjcom_JComObject_2Z";
inline const std::string kListenerInit = "Java_puente_IScanMonturaEvents__1_1JComEventListenerInit";

// The reference a wrapper's com-id field holds, given back through the
// runtime (in its apartment) as ezjcom.JComObject's cleaner does.
inline void release(jobject wrapper) {
  Object* w = deref(wrapper);
  if (!w || w->get_int("comId") == 0) return;
  call_in<void>(g_runtime, kRelease, jclass{nullptr}, w->get_int("comId"));
  w->set_int("comId", 0);
}

inline IUnknown* com_id(jobject wrapper) { return pointer<IUnknown>(deref(wrapper), "comId"); }

// The names of the events recorded since the last call.
inline std::vector<std::string> taken() {
  std::vector<std::string> out;
  for (const Delivery& d : recorder().take()) out.push_back(d.what);
  return out;
}

// A wrapper of a new component and an IScanMontura wrapper bound to it,
// made through the natives on the calling thread.
struct Pair {
  jobject component = nullptr;
  jobject device = nullptr;
  bool created = false;
  bool bound = false;
  std::string exception;
};

inline Pair create_pair() {
  Pair p;
  p.component = ref(new_instance("puente/ScanMontura"));
  p.created = native<jboolean>(kCreate, p.component, jboolean{0}, jboolean{0}) != 0;
  p.exception = take_exception();
  p.device = ref(new_instance("puente/IScanMontura"));
  if (p.created) p.bound = native<jboolean>(kLoad, p.device, p.component, jboolean{0}) != 0;
  p.exception += take_exception();
  return p;
}

inline void release_pair(Pair& p) {
  release(p.device);
  release(p.component);
}

// How long the suites wait for the component to fire what it queued.
constexpr LONG kWaitMs = 60000;

// Waits (up to 10 s) until done() says so; what done() says last.
template <class Done>
bool eventually(Done done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

class SimControlCalls {
 public:
  SimControlCalls() = default;
  SimControlCalls(const SimControlCalls&) = delete;
  SimControlCalls& operator=(const SimControlCalls&) = delete;
  ~SimControlCalls() {
    if (face_) face_->Release();
  }

  HRESULT call(const char* name, VARIANT* arg = nullptr) {
    return invoke(name, DISPATCH_METHOD, arg, nullptr);
  }
  HRESULT type_text(const wchar_t* text) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(text);
    const HRESULT hr = call("TypeText", &arg);
    VariantClear(&arg);
    return hr;
  }
  // Waits until the component has fired every queued event. While the
  // component's thread is making an outgoing call (firing an event), COM lets
  // this incoming call in, and the component refuses to wait inside an event
  // (E_UNEXPECTED): asked again until it answers for itself.
  HRESULT wait_idle() {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = kWaitMs;
    HRESULT hr = call("WaitIdle", &arg);
    for (DWORD start = GetTickCount(); hr == E_UNEXPECTED && GetTickCount() - start < kWaitMs;) {
      Sleep(1);
      hr = call("WaitIdle", &arg);
    }
    return hr;
  }
  // A property of the control; -1 when it cannot be read.
  LONG get(const char* name) {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = invoke(name, DISPATCH_PROPERTYGET, nullptr, &result);
    const LONG value = SUCCEEDED(hr) && result.vt == VT_I4 ? result.lVal : -1;
    VariantClear(&result);
    return value;
  }

 protected:
  HRESULT invoke(const char* name, WORD flags, VARIANT* arg, VARIANT* result) {
    if (!face_) return E_POINTER;
    const scanmontura::Function* f = scanmontura::Find(scanmontura::kISimControlDispatch, name);
    DISPPARAMS params{arg, nullptr, arg ? 1u : 0u, 0};
    VARIANT ignored;
    VariantInit(&ignored);
    const HRESULT hr = face_->Invoke(f->dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                     result ? result : &ignored, nullptr, nullptr);
    VariantClear(&ignored);
    return hr;
  }

  IDispatch* face_ = nullptr;
};

// Server-side delivery next to a listener connected with the given cookie,
// then both disconnected: the component lets go of the sinks' proxies, and the
// sinks, released where the component lives, delete their global references.
// where says across what the events come.
inline void server_side_then_disconnect(jobject component, jobject listener, jint cookie,
                                        SimControlCalls& control, const std::string& where) {
  Vm& vm = Vm::instance();
  Object* pair = deref(native<jobject>("Java_puente_ScanMontura__1_1RemoteEventAdd", component,
                                       jstr(u"puente.IScanMonturaEvents")));
  Object* remote = pair && pair->elements.size() == 2 ? pair->elements[0] : nullptr;
  const jint remote_cookie = pair && pair->elements.size() == 2 && pair->elements[1]
                                 ? pair->elements[1]->get_int("value")
                                 : 0;
  const std::string remote_exception = take_exception();
  control.call("Click");
  const HRESULT idle = control.wait_idle();
  const std::vector<std::string> both = taken();
  check(remote && remote_cookie != 0 && remote_exception.empty() && idle == S_OK &&
            both == std::vector<std::string>{"OnClick",
                                             "server-side puente.IScanMonturaEvents OnClick 0"},
        "__RemoteEventAdd " + where + ": server-side delivery next to the direct one",
        remote_exception + joined(both));

  call_in<void>(g_runtime, kUnadvise, component, listener, cookie);
  const std::string first = take_exception();
  call_in<void>(g_runtime, kUnadvise, component, ref(remote), remote_cookie);
  const std::string second = take_exception();
  const bool refs_back =
      eventually([&] { return vm.accounts().globalsLive == runtime_held_global_refs(); });
  check(first.empty() && second.empty() && control.get("ConnectionCount") == 0 &&
            deref(listener)->get_int("eventId") == 0 && refs_back,
        "__JComUnadvise of both: no connection left, the sinks' global references deleted",
        first + second + " " + std::to_string(vm.accounts().globalsLive) + " live");
}

}  // namespace wh
