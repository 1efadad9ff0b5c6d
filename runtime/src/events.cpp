// Server-side delivery of events, and advising a component's event source
// with a listener's sink.
#include <ocidl.h>
#if defined(_WIN32)
#include <olectl.h>  // CONNECT_E_* live here in the Windows SDK
#endif

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "apartment.h"
#include "bindings.h"
#include "com_ptr.h"
#include "contract.h"
#include "hooks.h"
#include "local_ref.h"
#include "runtime_state.h"

namespace ezjcom {

std::atomic<bool> g_server_side_events{true};
std::atomic<long> g_held_global_refs{0};
std::atomic<long> g_held_weak_refs{0};

namespace {

// {B14F3C49-0C7B-4439-A248-6229FE6D9605}: asked of a sink, it answers the
// address of the IID of the event interface it serves (a const IID*, not an
// interface: nothing to release).
const IID kEventIidQuery = {
    0xB14F3C49, 0x0C7B, 0x4439, {0xA2, 0x48, 0x62, 0x29, 0xFE, 0x6D, 0x96, 0x05}};

// The object a wrapper is bound to now, or null: what a connection remembers
// of the component it was made on, only to compare (never called).
IUnknown* component_of(JNIEnv* env, jobject wrapper) {
  const Use use = enter_wrapper(env, wrapper);
  return use.object();
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
    if (entry) {
      slot.store(entry, std::memory_order_release);
      g_held_weak_refs.fetch_add(1, std::memory_order_relaxed);
    } else if (weak) {
      env->DeleteWeakGlobalRef(weak);
    }
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
constexpr char kNotTheHolder[] = "The event sink belongs to another listener";
constexpr char kBusy[] = "The listener is being connected or disconnected on another thread";
constexpr char kIllegalStateException[] = "java/lang/IllegalStateException";
constexpr char kOutOfMemoryError[] = "java/lang/OutOfMemoryError";

// A connection the runtime made for a sink: the component it was made on (the
// wrapper's object then, only compared) and the point that took it, held so
// that the component is there to end it.
struct Connection {
  DWORD cookie;
  IUnknown* component;
  ComPtr<IConnectionPoint> point;
};

// A sink the runtime has connected, seen in a listener's event-id field. The
// listener it was seen through holds its creation reference (the field's);
// the record goes with the last connection, when that reference is given up.
struct SinkRecord {
  jweak holder = nullptr;
  bool busy = false;  // a connect or disconnect is under way, without the lock
  std::vector<Connection> connections;
};

struct SinkTable {
  std::mutex lock;
  std::map<IUnknown*, SinkRecord> sinks;
};

SinkTable& sink_table() {
  static SinkTable* t = new SinkTable;  // never destroyed: natives may run during exit
  return *t;
}

enum class Claim { kConnect, kDisconnect };

// The right of one thread to connect or disconnect a listener's sink: taken
// under the table's lock from the listener's event-id field and the sink's
// record, then used without the lock (COM calls may wait for other threads),
// and given back by connected() / disconnected() or at the end of the scope.
// A claim that cannot be had raises the Java exception saying why.
class SinkClaim {
 public:
  struct Ending {
    DWORD cookie;
    ComPtr<IConnectionPoint> point;
    bool ended = false;
    ComPtr<IConnectionPoint> recorded;  // the record's reference, once the connection ended
  };

  SinkClaim(JNIEnv* env, jobject listener, Claim kind) : env_(env) {
    jfieldID field = listener ? event_id_field(env) : nullptr;
    if (listener && !field) return;  // the runtime's field lookup failed; its exception is pending
    SinkTable& t = sink_table();
    std::lock_guard<std::mutex> guard(t.lock);
    // The field's binding holds the creation reference; a use of it keeps the
    // sink for the claim.
    value_ = field ? env->GetIntField(listener, field) : 0;
    use_ = enter_value(value_);
    sink_ = use_.object();
    if (!sink_) {
      if (value_ != 0 && kind == Claim::kDisconnect) {
        // A copy of a field whose sink is gone: nothing is left to give up.
        env->SetIntField(listener, field, 0);
        return;
      }
      throw_new(env, kNullPointerException, kNoSink);
      return;
    }
    auto it = t.sinks.find(sink_);
    if (it == t.sinks.end()) {
      // Not connected: the listener it is seen through holds its creation reference.
      it = t.sinks.emplace(sink_, SinkRecord{}).first;
      it->second.holder = env->NewWeakGlobalRef(listener);
      if (!it->second.holder) {
        t.sinks.erase(it);
        return;  // OutOfMemoryError pending
      }
      fresh_ = true;
    } else if (it->second.busy) {
      throw_new(env, kIllegalStateException, kBusy);
      return;
    } else if (!env->IsSameObject(it->second.holder, listener)) {
      if (!env->IsSameObject(it->second.holder, nullptr)) {
        // A copy of the holder's field: while the holder lives, it alone may
        // give the reference up.
        throw_new(env, kIllegalStateException, kNotTheHolder);
        return;
      }
      // The holder was collected without giving up the reference (a
      // registration nobody kept): the one that still has the field may.
      jweak holder = env->NewWeakGlobalRef(listener);
      if (!holder) return;  // OutOfMemoryError pending
      env->DeleteWeakGlobalRef(it->second.holder);
      it->second.holder = holder;
    }
    // Room for the connection to come: recording it must not fail once it exists.
    if (kind == Claim::kConnect) it->second.connections.reserve(it->second.connections.size() + 1);
    it->second.busy = true;
    record_ = &it->second;
    listener_ = listener;
    field_ = field;
  }

  SinkClaim(const SinkClaim&) = delete;
  SinkClaim& operator=(const SinkClaim&) = delete;

  // A record made for this claim goes again when no connection came of it.
  ~SinkClaim() {
    if (!record_) return;
    SinkTable& t = sink_table();
    std::lock_guard<std::mutex> guard(t.lock);
    record_->busy = false;
    if (fresh_ && record_->connections.empty()) {
      env_->DeleteWeakGlobalRef(record_->holder);
      t.sinks.erase(sink_);
    }
  }

  explicit operator bool() const { return record_ != nullptr; }
  IUnknown* sink() const { return sink_; }

  void connected(DWORD cookie, IUnknown* component, ComPtr<IConnectionPoint> point) {
    SinkTable& t = sink_table();
    std::lock_guard<std::mutex> guard(t.lock);
    record_->connections.push_back(Connection{cookie, component, std::move(point)});
  }

  // The connections a disconnect of `cookie` ends (0: all of them); false
  // when the sink has no connection with that cookie. Of two with the same
  // cookie, the one made on the wrapper's component.
  bool connections(DWORD cookie, IUnknown* component, std::vector<Ending>& out) {
    SinkTable& t = sink_table();
    std::lock_guard<std::mutex> guard(t.lock);
    const Connection* chosen = nullptr;
    for (const Connection& c : record_->connections) {
      if (cookie == 0) {
        out.push_back(Ending{c.cookie, share(c.point), false, {}});
      } else if (c.cookie == cookie && (!chosen || c.component == component)) {
        chosen = &c;
      }
    }
    if (chosen) out.push_back(Ending{chosen->cookie, share(chosen->point), false, {}});
    return cookie == 0 || chosen;
  }

  // Forgets the connections that ended. Once none is left, the field is
  // cleared (where it still holds this sink), the record goes, and the
  // creation reference is given up: exactly once, by the claim's holder.
  void disconnected(std::vector<Ending>& ending) {
    SinkTable& t = sink_table();
    bool release = false;
    {
      std::lock_guard<std::mutex> guard(t.lock);
      std::vector<Connection>& list = record_->connections;
      for (Ending& end : ending) {
        if (!end.ended) continue;
        for (auto it = list.begin(); it != list.end(); ++it) {
          if (it->cookie == end.cookie && it->point.get() == end.point.get()) {
            // The record's reference goes with the ending, after the lock: the
            // last reference to a component may go with it, and its teardown
            // may wait for its own threads, which may be waiting for this lock.
            end.recorded = std::move(it->point);
            list.erase(it);
            break;
          }
        }
      }
      if (list.empty()) {
        if (env_->GetIntField(listener_, field_) == value_) env_->SetIntField(listener_, field_, 0);
        env_->DeleteWeakGlobalRef(record_->holder);
        t.sinks.erase(sink_);
        record_ = nullptr;
        release = true;
      }
    }
    // The binding closes; its reference goes when this claim's use ends, after
    // the lock: the last release may free the sink and its hold on the listener.
    if (release) close_value(value_);
  }

 private:
  static ComPtr<IConnectionPoint> share(const ComPtr<IConnectionPoint>& p) {
    p->AddRef();
    return ComPtr<IConnectionPoint>(p.get());
  }

  JNIEnv* env_;
  jint value_ = 0;  // the event-id field's value, the binding of the sink's creation reference
  Use use_;         // declared before the rest: ends last, after the destructor's lock
  IUnknown* sink_ = nullptr;
  SinkRecord* record_ = nullptr;
  bool fresh_ = false;  // the record was made for this claim
  jobject listener_ = nullptr;
  jfieldID field_ = nullptr;
};

}  // namespace

long open_connections() {
  SinkTable& t = sink_table();
  std::lock_guard<std::mutex> guard(t.lock);
  long n = 0;
  for (const auto& sink : t.sinks) n += static_cast<long>(sink.second.connections.size());
  return n;
}

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
// wrapper; returns the cookie, or 0 with a Java exception pending. The
// connection is recorded with the sink, so that a disconnect reaches the
// component it was made on whatever the wrapper is bound to by then.
extern "C" JNIEXPORT jint JNICALL Java_ezjcom_JComObject__1_1JComAdvise(JNIEnv* env,
                                                                        jobject wrapper,
                                                                        jobject listener) try {
  const unsigned h = hooks();
  HRESULT hr = S_OK;
  DWORD cookie = 0;
  bool forced = false;
  if constexpr (kTestHooks) {
    if (h & kForced) forced = take_forced("__JComAdvise", &hr);
  }
  // A use of the wrapper's binding for the whole advise: a close on another
  // thread gives the reference back only once the advise is over.
  Use use = enter_wrapper(env, wrapper);
  if (!env->ExceptionCheck()) {
    if (SinkClaim claim(env, listener, Claim::kConnect); claim) {
      if (!use) {
        throw_unusable(env, use.status());
      } else {
        if (!forced) {
          // In the multithreaded apartment: the point is kept for the
          // disconnect, which may come from any thread, and the component
          // gets the sink as an object of that apartment.
          IUnknown* component = use.object();
          hr = in_mta([&] {
            ComPtr<IConnectionPoint> cp;
            HRESULT made = connection_point(component, claim.sink(), cp);
            if (SUCCEEDED(made)) made = cp->Advise(claim.sink(), &cookie);
            if (SUCCEEDED(made)) claim.connected(cookie, component, std::move(cp));
            return made;
          });
        }
        if (FAILED(hr)) {
          cookie = 0;
          throw_com_exception(env, hr, nullptr, nullptr);
        }
      }
    }
  }
  if (h) {
    // The journal line comes last: it carries the cookie.
    seen(h & ~kForced, "__JComAdvise", [&](Line& l) { l.num(static_cast<long long>(cookie)); });
  }
  return static_cast<jint>(cookie);
} catch (const std::bad_alloc&) {
  throw_new(env, kOutOfMemoryError, "__JComAdvise");
  return 0;
}

// Ends a listener's connections and, with the last of them, its life as an
// event sink: disconnects `cookie` (0: every connection made for the sink)
// from the component each was made on; once none is left, clears the
// listener's event-id field and gives up the sink's creation reference.
//
// The reference is given up once: the listener that first brought the sink
// to the runtime holds it, and a second thread (or a listener holding a copy
// of the field) is refused with IllegalStateException, never let release it
// again. A disconnect that fails keeps the connection, the reference and the
// field, and raises the JComException of its HRESULT.
extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComUnadvise(JNIEnv* env,
                                                                          jobject wrapper,
                                                                          jobject listener,
                                                                          jint cookie) try {
  HRESULT hr = S_OK;
  bool forced = false;
  if (const unsigned h = hooks()) {
    forced = seen(
        h, "__JComUnadvise", [&](Line& l) { l.num(static_cast<uint32_t>(cookie)); }, &hr);
  }
  IUnknown* component = component_of(env, wrapper);
  if (env->ExceptionCheck()) return;
  SinkClaim claim(env, listener, Claim::kDisconnect);
  if (!claim) return;
  if (forced) {  // the forced outcome, and nothing done
    throw_com_exception(env, hr, nullptr, nullptr);
    return;
  }
  // The connection points' references are taken, used and given back in the
  // multithreaded apartment, where they were obtained.
  std::vector<SinkClaim::Ending> ending;
  struct GivenBackInMta {
    std::vector<SinkClaim::Ending>& ending;
    ~GivenBackInMta() {
      if (!ending.empty()) in_mta([this] { ending.clear(); });
    }
  } given_back{ending};
  bool known = false;
  in_mta([&] {
    known = claim.connections(static_cast<DWORD>(cookie), component, ending);
    for (SinkClaim::Ending& end : ending) {
      const HRESULT each = end.point->Unadvise(end.cookie);
      end.ended = SUCCEEDED(each);
      if (FAILED(each) && SUCCEEDED(hr)) hr = each;
    }
  });
  if (!known) {
    throw_com_exception(env, CONNECT_E_NOCONNECTION, nullptr, nullptr);
    return;
  }
  claim.disconnected(ending);  // gives up the reference once nothing is connected
  if (FAILED(hr)) throw_com_exception(env, hr, nullptr, nullptr);
} catch (const std::bad_alloc&) {
  throw_new(env, kOutOfMemoryError, "__JComUnadvise");
}

extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComSetServerSideEvents(JNIEnv*,
                                                                                     jclass,
                                                                                     jboolean on) {
  if (const unsigned h = hooks())
    seen(h, "__JComSetServerSideEvents", [&](Line& l) { l.num(on ? 1 : 0); });
  g_server_side_events.store(on != JNI_FALSE, std::memory_order_relaxed);
}
