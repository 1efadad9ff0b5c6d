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

// Values of every kind both ways through the member natives, and a scan of the
// simulated tracer, waited for where the component runs; across says across
// what the calls go.
inline void round_trips(jobject dev, SimControlCalls& control, const std::string& across) {
  Vm& vm = Vm::instance();
  // Colours: the system colour "window" as the component keeps it, then an RGB one.
  Object* white = deref(member<jobject>("getColor", dev));
  member<void>("setColor__Ljava_awt_Color_2", dev, ref(new_color(0x12, 0x34, 0x56)));
  Object* back = deref(member<jobject>("getColor", dev));
  check(white && white->get_int("value") == static_cast<jint>(0xFFFFFFFF) && back &&
            back->get_int("value") == static_cast<jint>(0xFF123456) && take_exception().empty(),
        "colours both ways: 0x80000005 (COLOR_WINDOW) and 0x563412 as VT_I4");

  const std::u16string text = u"Trazo \u00F1 \u20AC \U0001F600";
  member<void>("setText__Ljava_lang_String_2", dev, jstr(text));
  const std::u16string got = chars(member<jstring>("getText", dev));
  member<void>("setText__Ljava_lang_String_2", dev, jstr(u""));
  const std::u16string empty = chars(member<jstring>("getText", dev));
  check(got == text && empty.empty() && take_exception().empty(),
        "strings both ways as BSTRs across " + across + ": a surrogate pair, and the empty string",
        vm.utf8(vm.new_string(got)));

  bool same = true;
  for (jboolean b : {jboolean{0}, jboolean{1}}) {
    member<void>("setAutoSelect__Z", dev, b);
    same = same && member<jboolean>("getAutoSelect", dev) == b;
  }
  for (int b : {-128, -1, 0, 127}) {
    member<void>("setPasswordChar__B", dev, static_cast<jbyte>(b));
    same = same && member<jbyte>("getPasswordChar", dev) == b;
  }
  for (int v : {-32768, -12, 32767}) {
    member<void>("setCursor__S", dev, static_cast<jshort>(v));
    same = same && member<jshort>("getCursor", dev) == v;
  }
  member<void>("setMaxLength__I", dev, jint{2147483647});
  same = same && member<jint>("getMaxLength", dev) == 2147483647;
  member<void>("setMaxLength__I", dev, jint{0});
  member<void>("setPasswordChar__B", dev, jbyte{0});
  member<void>("setCursor__S", dev, jshort{0});
  // Machine ints (VT_INT) have no getter: a value the component takes, one it refuses.
  member<void>("setVelocidad__I", dev, jint{10});
  member<void>("setOjo__I", dev, jint{1});
  same = same && take_exception().empty();
  member<void>("setBorderStyle__Lpuente_TxFormBorderStyle_2", dev,
               ref(enum_constant("puente/TxFormBorderStyle", 3)));
  member<void>("setImeMode__Lpuente_TxImeMode_2", dev, ref(enum_constant("puente/TxImeMode", 11)));
  same = same &&
         deref(member<jobject>("getBorderStyle", dev)) ==
             enum_constant("puente/TxFormBorderStyle", 3) &&
         deref(member<jobject>("getImeMode", dev)) == enum_constant("puente/TxImeMode", 11) &&
         take_exception().empty();
  check(same, "booleans, bytes (-128..127), shorts, ints, machine ints and enumerations both ways");

  // Floats: a scan of the simulated tracer, waited for where the component runs.
  member<void>("setPuertoComm__S", dev, jshort{1});
  member<void>("Explora", dev);
  const std::string scan_exception = take_exception();
  const HRESULT waited = control.wait_idle();
  const jint status = member<jint>("getStatus", dev);
  const jfloat box_h = member<jfloat>("getBoxH", dev);
  const jfloat perimeter = member<jfloat>("getPerimetro", dev);
  const std::u16string deltas = chars(member<jstring>("getRadioDeltas", dev));
  check(scan_exception.empty() && waited == S_OK && status == 200 && box_h > 0.0f &&
            perimeter > box_h && deltas.rfind(u"400;", 0) == 0,
        "a scan: status 200, floats (VT_R4) getBoxH and getPerimetro, 400 radius deltas",
        scan_exception + " wait " + hex(static_cast<unsigned long>(waited)) + " status " +
            std::to_string(status));
}

// A call the component refuses: its exception information reaches Java.
inline void refused_call(jobject dev, const std::string& across) {
  member<void>("setVelocidad__I", dev, jint{99});
  Object* e = take_throwable();
  check(e && e->cls->name == "ezjcom/JComException" &&
            static_cast<unsigned long>(e->get_int("hResult")) == 0x80070057ul &&
            Vm::instance().utf8(e->get_obj("description")) ==
                "Velocidad: 99 is out of range (1 to 10)" &&
            Vm::instance().utf8(e->get_obj("comSource")) == "ScanMontura",
        "a refused call: the component's EXCEPINFO (E_INVALIDARG, source, description) crosses " +
            across + " into the Java exception",
        e ? e->cls->name + " " + e->message : "no exception");
}

}  // namespace wh
