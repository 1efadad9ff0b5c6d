// Library and thread set-up, the interface map, field identifiers and the
// fatal-error flag.
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "contract.h"
#include "hooks.h"
#include "jvm.h"
#include "local_ref.h"
#include "runtime_state.h"
#include "thread_state.h"

namespace ezjcom {
namespace {

// What ezjcomInitDLL18 was given (1: the one mode there is, a library that
// brings its own interface map) and ezjcomSetAccessType (2: objects may be
// called from any thread; there is nothing to marshal, so nothing to do).
std::atomic<int> g_init_mode{0};
std::atomic<int> g_access_type{0};

struct MapEntry {
  IID iid;
  std::string javaClass;
};

// The interface map: copies of the pairs handed over, so the caller's array
// need not outlive the call. Entries are never removed, only added.
struct IidMap {
  std::mutex lock;
  std::vector<MapEntry*> entries;  // owned; never freed (their names are handed out)
};

IidMap& iid_map() {
  static IidMap* m = new IidMap;
  return *m;
}

// The newest entry for iid (lock held).
const char* lookup(const IidMap& m, const IID& iid) {
  for (auto it = m.entries.rbegin(); it != m.entries.rend(); ++it)
    if (IsEqualGUID((*it)->iid, iid)) return (*it)->javaClass.c_str();
  return nullptr;
}

// Field IDs stay valid while their class is loaded; the ezjcom classes come
// from the class path and are never unloaded.
std::atomic<jfieldID> g_event_id{nullptr};

jfieldID int_field(JNIEnv* env, std::atomic<jfieldID>& cache, const char* cls_name,
                   const char* field) {
  if (jfieldID id = cache.load(std::memory_order_acquire)) return id;
  if (!env) return nullptr;
  LocalRef<jclass> cls(env, env->FindClass(cls_name));
  if (!cls) {
    set_fatal();  // NoClassDefFoundError stays pending
    return nullptr;
  }
  jfieldID id = env->GetFieldID(cls.get(), field, "I");
  if (!id) {
    set_fatal();
    return nullptr;
  }
  cache.store(id, std::memory_order_release);
  return id;
}

}  // namespace

std::atomic<jfieldID> g_com_id{nullptr};

const char* iid_map_class(const IID& iid) {
  IidMap& m = iid_map();
  std::lock_guard<std::mutex> guard(m.lock);
  return lookup(m, iid);
}

jfieldID com_id_field(JNIEnv* env) { return int_field(env, g_com_id, kJComObject, "comId"); }

jfieldID event_id_field(JNIEnv* env) {
  return int_field(env, g_event_id, kJComEventListener, "eventId");
}

void throw_new(JNIEnv* env, const char* slashClass, const char* message) {
  if (env->ExceptionCheck()) return;
  LocalRef<jclass> cls(env, env->FindClass(slashClass));
  if (cls) env->ThrowNew(cls.get(), message);
}

}  // namespace ezjcom

using namespace ezjcom;

EZJCOM_API int EZJCOM_CALL ezjcomInitDLL18(int mode) {
  if (const unsigned h = hooks()) seen(h, "ezjcomInitDLL18", [&](Line& l) { l.num(mode); });
  if (mode != 1) return 0;
  g_init_mode.store(mode, std::memory_order_relaxed);
  return 1;
}

EZJCOM_API int EZJCOM_CALL ezjcomIidMapTypes(const EzjcomIidMapEntry* map, int count) try {
  if (const unsigned h = hooks()) {
    seen(h, "ezjcomIidMapTypes", [&](Line& l) {
      l.num(count);
      for (int i = 0; map && i < count; ++i) {
        if (map[i].iid)
          l.guid(*map[i].iid);
        else
          l.text(nullptr);
        l.text(map[i].javaClass);
      }
    });
  }
  if (!map || count <= 0) return 0;
  IidMap& m = iid_map();
  std::lock_guard<std::mutex> guard(m.lock);
  int taken = 0;
  for (int i = 0; i < count; ++i) {
    if (!map[i].iid || !map[i].javaClass) continue;
    // A later map may name another class for an interface: the newest entry
    // wins the lookup, and the old one stays (its name may have been handed out).
    const char* current = lookup(m, *map[i].iid);
    if (!current || std::string(current) != map[i].javaClass) {
      std::unique_ptr<MapEntry> entry(new MapEntry{*map[i].iid, map[i].javaClass});
      m.entries.push_back(entry.get());
      static_cast<void>(entry.release());  // the map owns it now
    }
    ++taken;
  }
  return taken;
} catch (const std::bad_alloc&) {
  return 0;  // no room for the map
}

EZJCOM_API int EZJCOM_CALL ezjcomInitThread(JNIEnv* env) {
  if (const unsigned h = hooks()) seen(h, "ezjcomInitThread", [&](Line& l) { l.env(env); });
  // Without an environment the call comes from a thread-attach notification,
  // under the loader lock. COM is not set up here either way: each COM call
  // the runtime makes sets up its own apartment (apartment.h).
  if (!env) return 1;
  remember_vm(env);
  return 1;
}

EZJCOM_API int EZJCOM_CALL ezjcomInitEventThread(JNIEnv* env) {
  if (const unsigned h = hooks()) seen(h, "ezjcomInitEventThread", [&](Line& l) { l.env(env); });
  // The thread is attached already (env is its own). Its apartment is left as
  // it is: a listener's calls back into the component set up their own.
  remember_vm(env);
  return 1;
}

EZJCOM_API JNIEnv* EZJCOM_CALL ezjcomGetJniEnv() {
  if (const unsigned h = hooks()) seen(h, "ezjcomGetJniEnv", no_args);
  return thread_env();
}

EZJCOM_API jfieldID EZJCOM_CALL ezjcomGetComId() {
  if (const unsigned h = hooks()) seen(h, "ezjcomGetComId", no_args);
  if (jfieldID id = g_com_id.load(std::memory_order_acquire)) return id;
  return com_id_field(thread_env());
}

EZJCOM_API jfieldID EZJCOM_CALL ezjcomGetEventId() {
  if (const unsigned h = hooks()) seen(h, "ezjcomGetEventId", no_args);
  if (jfieldID id = g_event_id.load(std::memory_order_acquire)) return id;
  return event_id_field(thread_env());
}

EZJCOM_API int EZJCOM_CALL ezjcomSetAccessType(int type) {
  if (const unsigned h = hooks()) seen(h, "ezjcomSetAccessType", [&](Line& l) { l.num(type); });
  g_access_type.store(type, std::memory_order_relaxed);
  return 1;
}

EZJCOM_API int EZJCOM_CALL ezjcomCheckFatalError(JNIEnv*) {
  const unsigned h = hooks();
  // The check itself may be scheduled to leave one pending for the next check.
  const bool fatal = take_fatal();
  if (h) seen(h, "ezjcomCheckFatalError", [&](Line& l) { l.num(fatal ? 1 : 0); });
  return fatal ? 1 : 0;
}

EZJCOM_API jclass EZJCOM_CALL ezjcomFindClass(JNIEnv* env, const char* slashName) {
  if (const unsigned h = hooks()) seen(h, "ezjcomFindClass", [&](Line& l) { l.text(slashName); });
  if (!env || !slashName) return nullptr;
  return env->FindClass(slashName);
}
