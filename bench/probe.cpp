// Natives of jtzbench.Probe: the baselines the bridge is measured against.
//
// Each loop native makes N operations inside one JNI call and returns the
// elapsed nanoseconds, so that a Java-to-native crossing is not part of the
// per-operation cost; a negative result means an operation failed.
//
//   empty()                      the cheapest native of a getter's shape
//   readComId                    the same plus the binding read of a member native
//   setClock / now               the clock of every measurement
//   joinApartment                CoInitializeEx on the calling thread, for good
//   invokeGet / invokePutString  IDispatch::Invoke on the component, as the
//                                runtime makes it for a member call
//   helperGet                    the same through ezjcomInvokeHelper
//   bridgeGetBoxH                the bridge's getBoxH native in a C loop
//   toBstr / fromBstr / toColor  the value conversions of a string or colour
//   rawUpcall                    CallVoidMethod with a cached method ID from
//                                an attached native thread
//   fireBurst / fireNoopSink     events fired by the component's own threads
#include <jni.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#if !defined(_WIN32)
#include <dlfcn.h>
#include <time.h>
#endif

#include "bench_com.h"
#include "runtime.h"
#include "scanmontura_sim.h"

using namespace jtzbench;

namespace {

// The clock every loop is timed with (Probe.setClock): the wall clock, or the
// CPU time of the calling thread or of the whole process. On a shared machine
// the CPU clocks leave out the time other processes hold the cores.
enum Clock : jint { kWall = 0, kThreadCpu = 1, kProcessCpu = 2 };
std::atomic<jint> g_clock{kWall};

jlong now() {
#if !defined(_WIN32)
  const jint clock = g_clock.load(std::memory_order_relaxed);
  if (clock != kWall) {
    timespec t{};
    clock_gettime(clock == kThreadCpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<jlong>(t.tv_sec) * 1000000000 + t.tv_nsec;
  }
#endif
  return static_cast<jlong>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count());
}

jlong since(jlong start) { return now() - start; }

// The object bound to a wrapper, through a use of its binding held for the
// whole measurement (the runtime's, as the bridge takes it).
class Bound {
 public:
  Bound(JNIEnv* env, jobject wrapper)
      : ok_(ezjcomEnterComId(env, wrapper, &use_) == EZJCOM_USE_OK) {}
  Bound(const Bound&) = delete;
  Bound& operator=(const Bound&) = delete;
  ~Bound() { ezjcomLeaveComId(&use_); }
  template <class T>
  T* get() const {
    return ok_ ? static_cast<T*>(use_.object) : nullptr;
  }

 private:
  EzjcomComUse use_{};
  bool ok_;
};

// One Invoke as ezjcomInvokeHelper makes it for a member call: the DISPPARAMS
// and EXCEPINFO zero-filled, the result set up with VariantInit.
HRESULT invoke_once(IDispatch* d, DISPID dispid, WORD flags, VARIANT* args, UINT cArgs,
                    DISPID* named, UINT cNamed, VARIANT* result, EXCEPINFO* excep) {
  DISPPARAMS params{};
  params.rgvarg = args;
  params.cArgs = cArgs;
  params.rgdispidNamedArgs = named;
  params.cNamedArgs = cNamed;
  *excep = EXCEPINFO{};
  VariantInit(result);
  UINT argErr = 0;
  return d->Invoke(dispid, IID_NULL, GetUserDefaultLCID(), flags, &params, result, excep, &argErr);
}

// The UTF-16 of a Java string as a BSTR the caller owns.
Bstr bstr_of(JNIEnv* env, jstring s) {
  const jsize n = env->GetStringLength(s);
  Bstr b(SysAllocStringLen(nullptr, static_cast<UINT>(n)));
  if (b) env->GetStringRegion(s, 0, n, reinterpret_cast<jchar*>(b.get()));
  return b;
}

// An event sink that only counts: what firing costs the component itself.
class NoopSink : public IDispatch {
 public:
  explicit NoopSink(const IID& events) : events_(events) {}
  virtual ~NoopSink() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, events_)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Owned by the caller, who frees it once the count is back to 1.
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    calls_.fetch_add(1, std::memory_order_relaxed);
    return S_OK;
  }
  long calls() const { return calls_.load(); }
  long refs() const { return refs_.load(); }

 private:
  const IID& events_;
  std::atomic<long> refs_{1};
  std::atomic<long> calls_{0};
};

// IScanMonturaEvents {834FBEE3-D957-11D3-9C50-0060972F00DC}.
const IID kIidEvents = {
    0x834FBEE3, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};

}  // namespace

extern "C" {

JNIEXPORT jfloat JNICALL Java_jtzbench_Probe_empty(JNIEnv*, jobject) { return 0.0f; }

// The binding read every member native starts with: the com-id field ID from
// the runtime, then the field.
JNIEXPORT jfloat JNICALL Java_jtzbench_Probe_readComId(JNIEnv* env, jobject, jobject wrapper) {
  return env->GetIntField(wrapper, ezjcomGetComId()) != 0 ? 1.0f : 0.0f;
}

// A use of the binding, taken and ended, as every member native takes one.
JNIEXPORT jfloat JNICALL Java_jtzbench_Probe_useComId(JNIEnv* env, jobject, jobject wrapper) {
  EzjcomComUse use;
  const int status = ezjcomEnterComId(env, wrapper, &use);
  ezjcomLeaveComId(&use);
  return status == EZJCOM_USE_OK ? 1.0f : 0.0f;
}

JNIEXPORT jint JNICALL Java_jtzbench_Probe_joinApartment(JNIEnv*, jclass, jboolean sta) {
  return CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
}

JNIEXPORT void JNICALL Java_jtzbench_Probe_setClock(JNIEnv*, jclass, jint clock) {
  g_clock.store(clock, std::memory_order_relaxed);
}

JNIEXPORT jlong JNICALL Java_jtzbench_Probe_now(JNIEnv*, jclass) { return now(); }

// n property gets (flags DISPATCH_PROPERTYGET). clearResult: the result holds
// a BSTR that the caller frees, as the bridge does for a string result.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_invokeGet(JNIEnv* env, jclass, jobject wrapper,
                                                      jint dispid, jboolean clearResult, jint n) {
  const Bound bound(env, wrapper);
  IDispatch* d = bound.get<IDispatch>();
  if (!d) return -1;
  const jlong start = now();
  for (jint i = 0; i < n; ++i) {
    VARIANT result;
    EXCEPINFO excep;
    const HRESULT hr =
        invoke_once(d, dispid, DISPATCH_PROPERTYGET, nullptr, 0, nullptr, 0, &result, &excep);
    if (FAILED(hr)) return -1;
    if (clearResult) VariantClear(&result);
  }
  return since(start);
}

// The bridge's own getBoxH native called n times from C, without a Java call
// in between: the member frame and the runtime without the JNI crossing.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_bridgeGetBoxH(JNIEnv* env, jclass, jobject wrapper,
                                                          jint n) {
#if defined(_WIN32)
  (void)env, (void)wrapper, (void)n;
  return -1;
#else
  // The JVM has loaded the bridge already; this only finds it.
  void* bridge = dlopen("libJTrazelo.so", RTLD_LAZY | RTLD_NOLOAD);
  if (!bridge) return -1;
  using Getter = jfloat(JNICALL*)(JNIEnv*, jobject);
  auto getBoxH = reinterpret_cast<Getter>(dlsym(bridge, "Java_puente_IScanMontura_getBoxH"));
  jlong elapsed = -1;
  if (getBoxH) {
    const jlong start = now();
    jfloat sum = 0;
    for (jint i = 0; i < n; ++i) sum += getBoxH(env, wrapper);
    elapsed = env->ExceptionCheck() || sum < 0 ? -1 : since(start);
  }
  dlclose(bridge);
  return elapsed;
#endif
}

// n property puts of one BSTR made beforehand (its making and freeing is what
// toBstr measures): one argument and the named argument DISPID_PROPERTYPUT.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_invokePutString(JNIEnv* env, jclass, jobject wrapper,
                                                            jint dispid, jstring value, jint n) {
  const Bound bound(env, wrapper);
  IDispatch* d = bound.get<IDispatch>();
  Bstr text = bstr_of(env, value);
  if (!d || !text) return -1;
  const jlong start = now();
  for (jint i = 0; i < n; ++i) {
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = text.get();
    DISPID named = DISPID_PROPERTYPUT;
    VARIANT result;
    EXCEPINFO excep;
    const HRESULT hr =
        invoke_once(d, dispid, DISPATCH_PROPERTYPUT, &arg, 1, &named, 1, &result, &excep);
    if (FAILED(hr)) return -1;
  }
  return since(start);
}

// n property gets through the runtime's helper, each followed by the fatal
// error check the bridge makes.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_helperGet(JNIEnv* env, jclass, jobject wrapper,
                                                      jint dispid, jboolean clearResult, jint n) {
  const Bound bound(env, wrapper);
  IDispatch* d = bound.get<IDispatch>();
  if (!d) return -1;
  const jlong start = now();
  for (jint i = 0; i < n; ++i) {
    DISPPARAMS params{};
    EXCEPINFO excep{};
    VARIANT result;
    VariantInit(&result);
    UINT argErr = 0;
    const HRESULT hr =
        ezjcomInvokeHelper(env, d, dispid, &params, DISPATCH_PROPERTYGET, &excep, &argErr, &result);
    if ((ezjcomCheckFatalError(env) & 0xFF) != 0 || FAILED(hr)) return -1;
    if (clearResult) VariantClear(&result);
  }
  return since(start);
}

// The string argument of a put: the runtime's conversion, then VariantClear.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_toBstr(JNIEnv* env, jclass, jstring value, jint n) {
  const jlong start = now();
  for (jint i = 0; i < n; ++i) {
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = ezjcomJstringToBstr(env, value);
    if (!arg.bstrVal) return -1;
    VariantClear(&arg);
  }
  return since(start);
}

// The string result of a get: the runtime's conversion of a BSTR (the local
// reference ends here instead of with the native call).
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_fromBstr(JNIEnv* env, jclass, jstring value, jint n) {
  Bstr text = bstr_of(env, value);
  if (!text) return -1;
  const jlong start = now();
  for (jint i = 0; i < n; ++i) {
    LocalRef<jstring> s(env, ezjcomBstrToJstr(env, text.get()));
    if (!s) return -1;
  }
  return since(start);
}

// A colour result as the bridge converts it: OleTranslateColor, then a new
// java.awt.Color(r, g, b) with the class and constructor looked up each time.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_toColor(JNIEnv* env, jclass, jint oleColor, jint n) {
  const jlong start = now();
  for (jint i = 0; i < n; ++i) {
    COLORREF rgb = 0;
    if (FAILED(OleTranslateColor(static_cast<OLE_COLOR>(oleColor), nullptr, &rgb))) return -1;
    LocalRef<jclass> cls(env, env->FindClass("java/awt/Color"));
    if (!cls) return -1;
    jmethodID init = env->GetMethodID(cls.get(), "<init>", "(III)V");
    if (!init) return -1;
    LocalRef<jobject> color(env, env->NewObject(cls.get(), init, static_cast<jint>(rgb & 0xFF),
                                                static_cast<jint>((rgb >> 8) & 0xFF),
                                                static_cast<jint>((rgb >> 16) & 0xFF)));
    if (!color) return -1;
  }
  return since(start);
}

// The raw upcall: a new native thread attaches to the JVM, looks OnChange ()V
// up once and calls it n times on the listener, checking for an exception
// after each call as JNI requires. Timed from the thread's start
// to its end, as fireBurst times the component's burst thread.
// lookupEachCall: the class and method are looked up for every call instead,
// and a pending exception asked for after it, as a sink that caches nothing must.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_rawUpcall(JNIEnv* env, jclass, jobject listener, jint n,
                                                      jboolean lookupEachCall) {
  JavaVM* vm = nullptr;
  if (env->GetJavaVM(&vm) != JNI_OK) return -1;
  GlobalRef target(env, listener);
  bool ok = false;
  const jlong start = now();
  std::thread upcalls([&] {
    JNIEnv* e = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr) != JNI_OK) return;
    if (lookupEachCall) {
      ok = true;
      for (jint i = 0; i < n && ok; ++i) {
        LocalRef<jclass> cls(e, e->GetObjectClass(target.get()));
        jmethodID onChange = e->GetMethodID(cls.get(), "OnChange", "()V");
        if (onChange) e->CallVoidMethod(target.get(), onChange);
        LocalRef<jthrowable> thrown(e, e->ExceptionOccurred());
        ok = onChange && !thrown;
      }
    } else {
      jmethodID onChange = nullptr;
      {
        LocalRef<jclass> cls(e, e->GetObjectClass(target.get()));
        onChange = e->GetMethodID(cls.get(), "OnChange", "()V");
      }
      if (onChange) {
        ok = true;
        for (jint i = 0; i < n && ok; ++i) {
          e->CallVoidMethod(target.get(), onChange);
          ok = !e->ExceptionCheck();
        }
      }
    }
    e->ExceptionClear();
    vm->DetachCurrentThread();
  });
  upcalls.join();
  const jlong elapsed = since(start);
  return ok ? elapsed : -1;
}

// ISimControl::FireBurst(dispid, 1 thread, n events): every connected sink
// gets n events on one new component thread. -1 unless n were delivered.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_fireBurst(JNIEnv* env, jclass, jobject wrapper,
                                                      jint dispid, jint n) {
  ComPtr<ISimControl> sim;
  const Bound bound(env, wrapper);
  IUnknown* component = bound.get<IUnknown>();
  if (!component || FAILED(component->QueryInterface(IID_ISimControl, sim.put()))) return -1;
  ULONG delivered = 0;
  const jlong start = now();
  const HRESULT hr = sim->FireBurst(dispid, 1, static_cast<UINT>(n), &delivered);
  const jlong elapsed = since(start);
  return SUCCEEDED(hr) && delivered == static_cast<ULONG>(n) ? elapsed : -1;
}

// The same burst to a native sink that only counts, advised for the burst
// alone; the component must have no other sink.
JNIEXPORT jlong JNICALL Java_jtzbench_Probe_fireNoopSink(JNIEnv* env, jclass, jobject wrapper,
                                                         jint dispid, jint n) {
  const Bound bound(env, wrapper);
  IUnknown* component = bound.get<IUnknown>();
  ComPtr<ISimControl> sim;
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (!component || FAILED(component->QueryInterface(IID_ISimControl, sim.put())) ||
      FAILED(component->QueryInterface(IID_IConnectionPointContainer, container.put())) ||
      FAILED(container->FindConnectionPoint(kIidEvents,
                                            reinterpret_cast<IConnectionPoint**>(point.put()))))
    return -1;
  std::unique_ptr<NoopSink> sink(new NoopSink(kIidEvents));
  DWORD cookie = 0;
  if (FAILED(point->Advise(sink.get(), &cookie))) return -1;
  ULONG delivered = 0;
  const jlong start = now();
  const HRESULT hr = sim->FireBurst(dispid, 1, static_cast<UINT>(n), &delivered);
  const jlong elapsed = since(start);
  point->Unadvise(cookie);
  const bool ok = SUCCEEDED(hr) && delivered == static_cast<ULONG>(n) && sink->calls() == n;
  // A component that still holds the sink keeps it: it is left alive, not freed under it.
  if (sink->refs() != 1) {
    static_cast<void>(sink.release());
    return -1;
  }
  return ok ? elapsed : -1;
}

}  // extern "C"
