// Server-side delivery of events, and advising a component's event source
// with a listener's sink.
#include <ocidl.h>
#if defined(_WIN32)
#include <olectl.h>  // CONNECT_E_* live here in the Windows SDK
#endif

#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "com_ptr.h"
#include "contract.h"
#include "ezjcom/testing.h"
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

struct ServerSideLog {
  std::mutex lock;
  EzjcomServerSideRecord last{};
};

ServerSideLog& server_side_log() {
  static ServerSideLog* s = new ServerSideLog;
  return *s;
}

void copy_name(char (&to)[32], const char* from) {
  std::memset(to, 0, sizeof to);
  if (from) std::strncpy(to, from, sizeof to - 1);
}

struct EventArg {
  int flags;
  const char* type;
  jobject value;
};

void record_server_side(JNIEnv* env, jobject javaObject, jobject serverSideValue, int argCount,
                        int flags, const char* returnType, const char* eventName,
                        const EventArg* args, int recorded) {
  ServerSideLog& s = server_side_log();
  std::lock_guard<std::mutex> guard(s.lock);
  EzjcomServerSideRecord& r = s.last;
  const long calls = r.calls + 1;
  r = EzjcomServerSideRecord{};
  r.env = env;
  r.javaObject = javaObject;
  r.serverSideValue = serverSideValue;
  r.argCount = argCount;
  r.flags = flags;
  copy_name(r.returnType, returnType);
  copy_name(r.eventName, eventName);
  for (int i = 0; i < recorded; ++i) {
    r.argFlags[i] = args[i].flags;
    copy_name(r.argType[i], args[i].type);
    r.argValue[i] = args[i].value;
  }
  r.calls = calls;
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
constexpr char kNotTheHolder[] = "The event sink belongs to another listener";
constexpr char kBusy[] = "The listener is being connected or disconnected on another thread";
constexpr char kIllegalStateException[] = "java/lang/IllegalStateException";
constexpr char kOutOfMemoryError[] = "java/lang/OutOfMemoryError";

// A connection the runtime made for a sink: the component it was made on (the
// wrapper's pointer then, only compared) and the point that took it, held so
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
  };

  SinkClaim(JNIEnv* env, jobject listener, Claim kind) : env_(env) {
    jfieldID field = listener ? event_id_field(env) : nullptr;
    if (listener && !field) return;  // the runtime's field lookup failed; its exception is pending
    SinkTable& t = sink_table();
    std::lock_guard<std::mutex> guard(t.lock);
    sink_ = field ? pointer_from_field<IUnknown>(env->GetIntField(listener, field)) : nullptr;
    if (!sink_) {
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
        out.push_back(Ending{c.cookie, share(c.point)});
      } else if (c.cookie == cookie && (!chosen || c.component == component)) {
        chosen = &c;
      }
    }
    if (chosen) out.push_back(Ending{chosen->cookie, share(chosen->point)});
    return cookie == 0 || chosen;
  }

  // Forgets the connections that ended. Once none is left, the field is
  // cleared (where it still holds this sink), the record goes, and the
  // creation reference is given up: exactly once, by the claim's holder.
  void disconnected(const std::vector<Ending>& ending) {
    SinkTable& t = sink_table();
    IUnknown* release = nullptr;
    {
      std::lock_guard<std::mutex> guard(t.lock);
      std::vector<Connection>& list = record_->connections;
      for (const Ending& end : ending) {
        if (!end.ended) continue;
        for (auto it = list.begin(); it != list.end(); ++it) {
          if (it->cookie == end.cookie && it->point.get() == end.point.get()) {
            list.erase(it);
            break;
          }
        }
      }
      if (list.empty()) {
        if (pointer_from_field<IUnknown>(env_->GetIntField(listener_, field_)) == sink_)
          env_->SetIntField(listener_, field_, 0);
        env_->DeleteWeakGlobalRef(record_->holder);
        t.sinks.erase(sink_);
        record_ = nullptr;
        release = sink_;
      }
    }
    // Without the lock: the last release may free the sink and its hold on the listener.
    if (release) release->Release();
  }

 private:
  static ComPtr<IConnectionPoint> share(const ComPtr<IConnectionPoint>& p) {
    p->AddRef();
    return ComPtr<IConnectionPoint>(p.get());
  }

  JNIEnv* env_;
  IUnknown* sink_ = nullptr;
  SinkRecord* record_ = nullptr;
  bool fresh_ = false;  // the record was made for this claim
  jobject listener_ = nullptr;
  jfieldID field_ = nullptr;
};

}  // namespace

void server_side_reset() {
  g_server_side_events.store(true, std::memory_order_relaxed);
  ServerSideLog& s = server_side_log();
  std::lock_guard<std::mutex> guard(s.lock);
  s.last = EzjcomServerSideRecord{};
}

void server_side_last(EzjcomServerSideRecord* out) {
  ServerSideLog& s = server_side_log();
  std::lock_guard<std::mutex> guard(s.lock);
  *out = s.last;
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
  constexpr int kRecorded = 2;
  EventArg first[kRecorded] = {};
  if (argCount < 0) argCount = 0;

  // The values go straight into the array; the first ones are also recorded.
  LocalRef<jclass> object_class(env, env ? env->FindClass("java/lang/Object") : nullptr);
  LocalRef<jobjectArray> values(
      env, object_class ? env->NewObjectArray(argCount, object_class.get(), nullptr) : nullptr);
  std::string described;
  va_list ap;
  va_start(ap, eventName);
  for (int i = 0; i < argCount; ++i) {
    EventArg a;
    a.flags = va_arg(ap, int);
    a.type = va_arg(ap, const char*);
    a.value = va_arg(ap, jobject);
    if (i < kRecorded) first[i] = a;
    described += ' ';
    described += std::to_string(a.flags);
    described += ' ';
    described += a.type ? a.type : "null";
    if (values) env->SetObjectArrayElement(values.get(), i, a.value);
  }
  va_end(ap);

  if (const unsigned h = hooks()) {
    seen(h, "OnServerSideEvent", [&](Line& l) {
      l.num(argCount).num(flags).text(returnType).text(eventName).raw(described);
    });
  }
  record_server_side(env, javaObject, serverSideValue, argCount, flags, returnType, eventName,
                     first, argCount < kRecorded ? argCount : kRecorded);

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
  if (h & kForced) forced = take_forced("__JComAdvise", &hr);
  IUnknown* component = component_of(env, wrapper);
  if (!env->ExceptionCheck()) {
    if (SinkClaim claim(env, listener, Claim::kConnect); claim) {
      if (!component) {
        throw_new(env, kNullPointerException, kUnbound);
      } else {
        ComPtr<IConnectionPoint> cp;
        if (!forced) hr = connection_point(component, claim.sink(), cp);
        if (SUCCEEDED(hr) && !forced) hr = cp->Advise(claim.sink(), &cookie);
        if (SUCCEEDED(hr)) {
          if (cp) claim.connected(cookie, component, std::move(cp));
        } else {
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
  std::vector<SinkClaim::Ending> ending;
  if (!claim.connections(static_cast<DWORD>(cookie), component, ending)) {
    throw_com_exception(env, CONNECT_E_NOCONNECTION, nullptr, nullptr);
    return;
  }
  for (SinkClaim::Ending& end : ending) {
    const HRESULT each = end.point->Unadvise(end.cookie);
    end.ended = SUCCEEDED(each);
    if (FAILED(each) && SUCCEEDED(hr)) hr = each;
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
