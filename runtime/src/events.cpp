// Server-side delivery of events, and advising a component's event source
// with a listener's sink.
#include <ocidl.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "com_ptr.h"
#include "contract.h"
#include "hooks.h"
#include "local_ref.h"
#include "runtime_state.h"

namespace ezjcom {

std::atomic<bool> g_server_side_events{true};
std::atomic<long> g_held_global_refs{0};

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

constexpr char kHandlerName[] = "__JComServerSideEvent";
constexpr char kHandlerSignature[] = "(Ljava/lang/String;Ljava/lang/String;[Ljava/lang/Object;)V";

// What server-side delivery looks up in the JVM, once for the process: global
// references to classes of the platform, which stay loaded, and the empty
// argument array.
struct ServerSideLookups {
  jclass objectClass;        // java/lang/Object
  jclass stringClass;        // java/lang/String
  jobjectArray noArguments;  // the Object[0] of every event without arguments
};
constexpr long kLookupRefs = 3;  // the global references of ServerSideLookups

std::atomic<const ServerSideLookups*> g_server_side_lookups{nullptr};

// The lookups, made with env the first time (null, with the JVM's exception
// pending, when one of them fails). Two threads may make them at once: one
// set wins, the other's references are deleted.
const ServerSideLookups* server_side_lookups(JNIEnv* env) {
  if (const ServerSideLookups* l = g_server_side_lookups.load(std::memory_order_acquire)) return l;
  auto global_class = [env](const char* name) -> jclass {
    LocalRef<jclass> local(env, env->FindClass(name));
    return local ? static_cast<jclass>(env->NewGlobalRef(local.get())) : nullptr;
  };
  ServerSideLookups made{};
  made.objectClass = global_class("java/lang/Object");
  made.stringClass = made.objectClass ? global_class("java/lang/String") : nullptr;
  if (made.stringClass) {
    LocalRef<jobjectArray> none(env, env->NewObjectArray(0, made.objectClass, nullptr));
    if (none) made.noArguments = static_cast<jobjectArray>(env->NewGlobalRef(none.get()));
  }
  auto* l = made.noArguments ? new (std::nothrow) ServerSideLookups(made) : nullptr;
  const ServerSideLookups* none = nullptr;
  if (l && g_server_side_lookups.compare_exchange_strong(none, l, std::memory_order_acq_rel)) {
    g_held_global_refs.fetch_add(kLookupRefs, std::memory_order_relaxed);
    return l;
  }
  for (jobject ref :
       {static_cast<jobject>(made.objectClass), static_cast<jobject>(made.stringClass),
        static_cast<jobject>(made.noArguments)})
    if (ref) env->DeleteGlobalRef(ref);
  delete l;
  return none;  // the other thread's, or null after a failure
}

// The handler's method ID per class of the objects events went to (a
// JComObject subclass, usually one or two per process), for at most
// kHandlerClasses classes; others look it up for each event. A class is held
// by a weak reference: the cache keeps no class and no class loader alive,
// and an unloaded class matches nothing any more.
constexpr int kHandlerClasses = 8;
struct HandlerOfClass {
  jweak cls;
  jmethodID handler;
};
std::atomic<const HandlerOfClass*> g_handlers[kHandlerClasses];
std::mutex g_handlers_lock;  // taken to add a class, never to read one

// The handler of cls (its __JComServerSideEvent), or null with
// NoSuchMethodError pending when it has none.
jmethodID handler_of(JNIEnv* env, jclass cls) {
  for (const auto& slot : g_handlers) {
    const HandlerOfClass* known = slot.load(std::memory_order_acquire);
    if (!known) break;  // the slots fill in order
    if (env->IsSameObject(cls, known->cls)) return known->handler;
  }
  jmethodID handler = env->GetMethodID(cls, kHandlerName, kHandlerSignature);
  if (!handler) return nullptr;
  std::lock_guard<std::mutex> guard(g_handlers_lock);
  for (auto& slot : g_handlers) {
    const HandlerOfClass* known = slot.load(std::memory_order_acquire);
    if (known && env->IsSameObject(cls, known->cls)) break;  // added meanwhile
    if (known) continue;
    jweak weak = env->NewWeakGlobalRef(cls);
    auto* entry = weak ? new (std::nothrow) HandlerOfClass{weak, handler} : nullptr;
    if (entry)
      slot.store(entry, std::memory_order_release);
    else if (weak)
      env->DeleteWeakGlobalRef(weak);
    break;
  }
  return handler;
}

// The event names handed to the handlers, as Java strings made once per name
// and kept for the process (the same String every time): at most kNames
// names of up to 31 bytes; others get a new String for each event.
constexpr int kNames = 16;
struct EventName {
  char text[32];
  jstring string;  // global reference
};
std::atomic<const EventName*> g_event_names[kNames];
std::mutex g_event_names_lock;  // taken to add a name, never to read one

// The String kept for an event name, or null.
jstring kept_event_name(const char* name) {
  for (const auto& slot : g_event_names) {
    const EventName* known = slot.load(std::memory_order_acquire);
    if (!known) break;  // the slots fill in order
    if (std::strcmp(known->text, name) == 0) return known->string;
  }
  return nullptr;
}

// A new String of an event name (a local reference; null, with the JVM's
// exception pending, when that fails), kept for the next events of that name
// while there is room.
jstring new_event_name(JNIEnv* env, const char* name) {
  jstring made = env->NewStringUTF(name);
  if (!made || std::strlen(name) >= sizeof(EventName::text)) return made;
  std::lock_guard<std::mutex> guard(g_event_names_lock);
  for (auto& slot : g_event_names) {
    const EventName* known = slot.load(std::memory_order_acquire);
    if (known && std::strcmp(known->text, name) == 0) break;  // kept meanwhile
    if (known) continue;
    auto kept = static_cast<jstring>(env->NewGlobalRef(made));
    auto* entry = kept ? new (std::nothrow) EventName{{}, kept} : nullptr;
    if (entry) {
      std::memcpy(entry->text, name, std::strlen(name) + 1);  // fits: checked above
      slot.store(entry, std::memory_order_release);
      g_held_global_refs.fetch_add(1, std::memory_order_relaxed);
    } else if (kept) {
      env->DeleteGlobalRef(kept);
    }
    break;
  }
  return made;
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
  const ServerSideLookups* lookups = env ? server_side_lookups(env) : nullptr;

  // The values go straight into the array (an event without arguments gets the
  // one empty array); the test variant also records them.
  LocalRef<jobjectArray> made_values(
      env, lookups && argCount > 0 ? env->NewObjectArray(argCount, lookups->objectClass, nullptr)
                                   : nullptr);
  jobjectArray values = lookups && argCount == 0 ? lookups->noArguments : made_values.get();
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
    jobject value = va_arg(ap, jobject);
    if (values) env->SetObjectArrayElement(values, i, value);
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
  // The method of that name and signature of the object's class: a
  // JComObject's handler, or any other class's method of that form.
  LocalRef<jclass> cls(env, env->GetObjectClass(javaObject));
  jmethodID handler = handler_of(env, cls.get());
  if (!handler) return 0;  // NoSuchMethodError pending
  // The interface name is what the sink was given; anything else is passed as null.
  jobject name = serverSideValue && env->IsInstanceOf(serverSideValue, lookups->stringClass)
                     ? serverSideValue
                     : nullptr;
  jstring kept = eventName ? kept_event_name(eventName) : nullptr;
  LocalRef<jstring> made(env, eventName && !kept ? new_event_name(env, eventName) : nullptr);
  if (env->ExceptionCheck()) return 0;
  env->CallVoidMethod(javaObject, handler, name, kept ? kept : made.get(), values);
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
