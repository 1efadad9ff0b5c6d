// The natives of jtrazelo.simulator.SimulatedBench: ISimControl of a simulated
// component, reached from the component's Java wrapper.
//
// Java holds the ISimControl pointer as a long, with one reference of its own
// (attach), and takes a reference more for each call (addRef, then release), so
// that closing the bench while another thread is inside a call never frees
// what that call uses. Each operation answers its HRESULT; the Java side turns
// a failure into an exception with a message.
#include <jni.h>
#include <oaidl.h>

#include <cstdint>
#include <vector>

#include "bridge/runtime.h"
#include "scanmontura_sim.h"

namespace {

ISimControl* control_of(jlong handle) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the handle is the pointer attach gave.
  return reinterpret_cast<ISimControl*>(static_cast<uintptr_t>(handle));
}

// A Java string as a NUL-terminated OLE string (both UTF-16); empty for null.
std::vector<OLECHAR> ole_text(JNIEnv* env, jstring text) {
  if (!text) return {};
  const jsize n = env->GetStringLength(text);
  std::vector<OLECHAR> out(static_cast<size_t>(n) + 1, 0);
  static_assert(sizeof(OLECHAR) == sizeof(jchar), "OLECHAR and jchar are UTF-16 code units");
  env->GetStringRegion(text, 0, n, reinterpret_cast<jchar*>(out.data()));
  return out;
}

}  // namespace

extern "C" {

// The component's ISimControl, with a reference for the caller; 0 when the
// component is not the simulated one (or the wrapper is unbound).
JNIEXPORT jlong JNICALL Java_jtrazelo_simulator_SimulatedBench_attach(JNIEnv* env, jclass,
                                                                      jobject component) {
  if (!component) return 0;
  // The component as its wrapper (a puente.ScanMontura) holds it, through a
  // use of the wrapper's binding taken by the runtime for the query.
  EzjcomComUse use;
  if (ezjcomEnterComId(env, component, &use) != EZJCOM_USE_OK) {
    ezjcomLeaveComId(&use);
    return 0;
  }
  void* control = nullptr;
  const HRESULT hr = use.object->QueryInterface(IID_ISimControl, &control);
  ezjcomLeaveComId(&use);
  if (FAILED(hr) || !control) return 0;
  return static_cast<jlong>(reinterpret_cast<uintptr_t>(control));
}

JNIEXPORT void JNICALL Java_jtrazelo_simulator_SimulatedBench_addRef(JNIEnv*, jclass,
                                                                     jlong handle) {
  control_of(handle)->AddRef();
}

JNIEXPORT void JNICALL Java_jtrazelo_simulator_SimulatedBench_release(JNIEnv*, jclass,
                                                                      jlong handle) {
  control_of(handle)->Release();
}

JNIEXPORT jint JNICALL Java_jtrazelo_simulator_SimulatedBench_typeText(JNIEnv* env, jclass,
                                                                       jlong handle,
                                                                       jstring text) try {
  const std::vector<OLECHAR> typed = ole_text(env, text);
  if (env->ExceptionCheck()) return E_UNEXPECTED;
  static const OLECHAR kNothing[1] = {0};
  return control_of(handle)->TypeText(typed.empty() ? kNothing : typed.data());
} catch (...) {
  return E_OUTOFMEMORY;
}

JNIEXPORT jint JNICALL Java_jtrazelo_simulator_SimulatedBench_setFrame(JNIEnv* env, jclass,
                                                                       jlong handle, jint port,
                                                                       jstring frame) try {
  if (port < 0 || port > 16) return E_INVALIDARG;
  const std::vector<OLECHAR> name = ole_text(env, frame);
  if (env->ExceptionCheck()) return E_UNEXPECTED;
  return control_of(handle)->SetFrame(static_cast<SHORT>(port), frame ? name.data() : nullptr);
} catch (...) {
  return E_OUTOFMEMORY;
}

// From now on calls of the member named `member` fail with hResult and
// `description` (hResult 0: they work again). DISP_E_UNKNOWNNAME for a name
// the component does not know.
JNIEXPORT jint JNICALL Java_jtrazelo_simulator_SimulatedBench_failMember(
    JNIEnv* env, jclass, jlong handle, jstring member, jint hResult, jstring description) try {
  std::vector<OLECHAR> name = ole_text(env, member);
  const std::vector<OLECHAR> text = ole_text(env, description);
  if (env->ExceptionCheck()) return E_UNEXPECTED;
  if (name.empty()) return DISP_E_UNKNOWNNAME;
  ISimControl* control = control_of(handle);
  void* dispatch = nullptr;
  HRESULT hr = control->QueryInterface(IID_IDispatch, &dispatch);
  if (FAILED(hr) || !dispatch) return FAILED(hr) ? hr : E_NOINTERFACE;
  LPOLESTR names[1] = {name.data()};
  DISPID dispid = 0;
  hr = static_cast<IDispatch*>(dispatch)->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT,
                                                        &dispid);
  static_cast<IDispatch*>(dispatch)->Release();
  if (FAILED(hr)) return hr;
  return control->FailMember(dispid, static_cast<HRESULT>(hResult),
                             description ? text.data() : nullptr);
} catch (...) {
  return E_OUTOFMEMORY;
}

}  // extern "C"
