// Server-side delivery of events, and advising a component's event source
// with a listener's sink.
#include <ocidl.h>

#include <cstdarg>
#include <string>

#include "com_ptr.h"
#include "contract.h"
#include "hooks.h"
#include "local_ref.h"
#include "runtime_state.h"

namespace ezjcom {

std::atomic<bool> g_server_side_events{true};

namespace {

// {B14F3C49-0C7B-4439-A248-6229FE6D9605}: asked of a sink, it answers the
// address of the IID of the event interface it serves (a const IID*, not an
// interface: nothing to release).
const IID kEventIidQuery = {
    0xB14F3C49, 0x0C7B, 0x4439, {0xA2, 0x48, 0x62, 0x29, 0xFE, 0x6D, 0x96, 0x05}};

// The sink held in a listener's event-id field, or null.
IUnknown* sink_of(JNIEnv* env, jobject listener) {
  if (!listener) return nullptr;
  jfieldID field = event_id_field(env);
  if (!field) return nullptr;
  return pointer_from_field<IUnknown>(env->GetIntField(listener, field));
}

// The component behind a wrapper, or null when it is unbound.
IUnknown* component_of(JNIEnv* env, jobject wrapper) {
  if (!wrapper) return nullptr;
  jfieldID field = com_id_field(env);
  if (!field) return nullptr;
  return pointer_from_field<IUnknown>(env->GetIntField(wrapper, field));
}

// The component's connection point for the event interface the sink serves.
HRESULT connection_point(IUnknown* component, IUnknown* sink, ComPtr<IConnectionPoint>& cp) {
  void* answer = nullptr;
  HRESULT hr = sink->QueryInterface(kEventIidQuery, &answer);
  if (FAILED(hr)) return hr;
  if (!answer) return E_NOINTERFACE;
  const IID& events = *static_cast<const IID*>(answer);
  ComPtr<IConnectionPointContainer> container;
  hr = component->QueryInterface(IID_IConnectionPointContainer, container.put());
  if (FAILED(hr)) return hr;
  return container->FindConnectionPoint(events, cp.put_typed());
}

constexpr char kNoSink[] = "Listener has no event sink";
constexpr char kUnbound[] = "Uninitialized JComObject";

}  // namespace

}  // namespace ezjcom

using namespace ezjcom;

EZJCOM_API int EZJCOM_CALL CheckServerSideEvents(JNIEnv*) {
  const bool on = g_server_side_events.load(std::memory_order_relaxed);
  if (const unsigned h = hooks()) seen(h, "CheckServerSideEvents", [&](Line& l) { l.num(on); });
  return on ? 1 : 0;
}

// Hands one event to javaObject.__JComServerSideEvent(interface name, event
// name, Object[] of the argument values). The arguments come as argCount
// triples: int flags, const char* type name, jobject value. A Java exception
// thrown by the handler stays pending for the caller. Returns 1 when the
// handler was called.
EZJCOM_API int EZJCOM_CALL OnServerSideEvent(JNIEnv* env, jobject javaObject,
                                             jobject serverSideValue, int argCount, int flags,
                                             const char* returnType, const char* eventName, ...) {
  if (argCount < 0) argCount = 0;

  // The values go straight into the array; the test variant also records them.
  LocalRef<jclass> object_class(env, env ? env->FindClass("java/lang/Object") : nullptr);
  LocalRef<jobjectArray> values(
      env, object_class ? env->NewObjectArray(argCount, object_class.get(), nullptr) : nullptr);
  constexpr int kRecorded = 2;
  int first_flags[kRecorded] = {};
  const char* first_types[kRecorded] = {};
  jobject first_values[kRecorded] = {};
  std::string described;
  va_list ap;
  va_start(ap, eventName);
  for (int i = 0; i < argCount; ++i) {
    const int arg_flags = va_arg(ap, int);
    const char* type = va_arg(ap, const char*);
    const jobject value = va_arg(ap, jobject);
    if (values) env->SetObjectArrayElement(values.get(), i, value);
    if constexpr (kTestHooks) {
      if (i < kRecorded) {
        first_flags[i] = arg_flags;
        first_types[i] = type;
        first_values[i] = value;
      }
      described += ' ';
      described += std::to_string(arg_flags);
      described += ' ';
      described += type ? type : "null";
    }
  }
  va_end(ap);

  if constexpr (kTestHooks) {
    if (const unsigned h = hooks()) {
      seen(h, "OnServerSideEvent", [&](Line& l) {
        l.num(argCount).num(flags).text(returnType).text(eventName).raw(described);
      });
    }
    record_server_side(env, javaObject, serverSideValue, argCount, flags, returnType, eventName,
                       first_flags, first_types, first_values,
                       argCount < kRecorded ? argCount : kRecorded);
  }

  if (!env || !javaObject || !values) return 0;
  LocalRef<jclass> cls(env, env->GetObjectClass(javaObject));
  jmethodID handler =
      env->GetMethodID(cls.get(), "__JComServerSideEvent",
                       "(Ljava/lang/String;Ljava/lang/String;[Ljava/lang/Object;)V");
  if (!handler) return 0;  // NoSuchMethodError pending: not a JComObject
  LocalRef<jclass> string_class(env, env->FindClass("java/lang/String"));
  // The interface name is what the sink was given; anything else is passed as null.
  jobject name =
      serverSideValue && string_class && env->IsInstanceOf(serverSideValue, string_class.get())
          ? serverSideValue
          : nullptr;
  LocalRef<jstring> event(env, eventName ? env->NewStringUTF(eventName) : nullptr);
  if (env->ExceptionCheck()) return 0;
  env->CallVoidMethod(javaObject, handler, name, event.get(), values.get());
  return 1;
}

// Connects the sink of listener to the event source of the component behind
// wrapper; returns the cookie, or 0 with a Java exception pending.
extern "C" JNIEXPORT jint JNICALL Java_ezjcom_JComObject__1_1JComAdvise(JNIEnv* env,
                                                                        jobject wrapper,
                                                                        jobject listener) {
  const unsigned h = hooks();
  HRESULT hr = S_OK;
  DWORD cookie = 0;
  bool forced = false;
  if constexpr (kTestHooks) {
    if (h & kForced) forced = take_forced("__JComAdvise", &hr);
  }
  IUnknown* sink = sink_of(env, listener);
  IUnknown* component = component_of(env, wrapper);
  if (env->ExceptionCheck()) {
    // The runtime's own field lookup failed.
  } else if (!sink) {
    throw_new(env, kNullPointerException, kNoSink);
  } else if (!component) {
    throw_new(env, kNullPointerException, kUnbound);
  } else {
    ComPtr<IConnectionPoint> cp;
    if (!forced) hr = connection_point(component, sink, cp);
    if (SUCCEEDED(hr) && !forced) hr = cp->Advise(sink, &cookie);
    if (FAILED(hr)) {
      cookie = 0;
      throw_com_exception(env, hr, nullptr, nullptr);
    }
  }
  if (h) {
    // The journal line comes last: it carries the cookie.
    seen(h & ~kForced, "__JComAdvise", [&](Line& l) { l.num(static_cast<long long>(cookie)); });
  }
  return static_cast<jint>(cookie);
}

// Disconnects cookie (unless 0) from the component's connection point for the
// sink's event interface, then gives up the sink's creation reference and
// clears the listener's event-id field: once, whatever failed.
extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComUnadvise(JNIEnv* env,
                                                                          jobject wrapper,
                                                                          jobject listener,
                                                                          jint cookie) {
  HRESULT hr = S_OK;
  bool forced = false;
  if (const unsigned h = hooks()) {
    forced = seen(
        h, "__JComUnadvise", [&](Line& l) { l.num(static_cast<uint32_t>(cookie)); }, &hr);
  }
  IUnknown* sink = sink_of(env, listener);
  if (env->ExceptionCheck()) return;
  if (!sink) {
    throw_new(env, kNullPointerException, kNoSink);
    return;
  }
  const char* refusal = nullptr;
  if (!forced && cookie != 0) {
    IUnknown* component = component_of(env, wrapper);
    if (env->ExceptionCheck()) {
      hr = S_OK;  // the field lookup's exception is reported
    } else if (!component) {
      refusal = kUnbound;
    } else {
      ComPtr<IConnectionPoint> cp;
      hr = connection_point(component, sink, cp);
      if (SUCCEEDED(hr)) hr = cp->Unadvise(static_cast<DWORD>(cookie));
    }
  }
  // The reference goes with the field: clear it first, then give it up (the
  // last release may free the sink and its hold on the listener).
  if (jfieldID field = event_id_field(env)) env->SetIntField(listener, field, 0);
  sink->Release();
  if (refusal)
    throw_new(env, kNullPointerException, refusal);
  else if (FAILED(hr))
    throw_com_exception(env, hr, nullptr, nullptr);
}

extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComSetServerSideEvents(JNIEnv*,
                                                                                     jclass,
                                                                                     jboolean on) {
  if (const unsigned h = hooks())
    seen(h, "__JComSetServerSideEvents", [&](Line& l) { l.num(on ? 1 : 0); });
  g_server_side_events.store(on != JNI_FALSE, std::memory_order_relaxed);
}
