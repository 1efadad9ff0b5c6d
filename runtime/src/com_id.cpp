// The com-id and event-id fields: binding a COM reference to a wrapper (or a
// sink's creation reference to its listener), uses of it, and giving it back.
// The fields hold values of the table of bindings (bindings.h); everything
// that reads a pointer from such a field goes through a use of it, and
// everything that gives one back through close_value, so that a close racing
// a call, a query or an advise never frees what they are using.
#include <objbase.h>

#include <mutex>

#include "apartment.h"
#include "bindings.h"
#include "contract.h"
#include "hooks.h"
#include "runtime_state.h"

namespace ezjcom {
namespace {

constexpr char kIllegalStateException[] = "java/lang/IllegalStateException";
constexpr char kUnbound[] = "Uninitialized JComObject";
constexpr char kStale[] =
    "JComObject holds no live COM object (its comId was not bound by the runtime)";

// Taken to check a field for 0 and store a binding in it, so that two
// threads binding one wrapper cannot both store (and lose one's reference).
std::mutex g_store_lock;

}  // namespace

Use enter_wrapper(JNIEnv* env, jobject wrapper) {
  return enter_field(env, wrapper, wrapper ? com_id_field(env) : nullptr);
}

void throw_unusable(JNIEnv* env, UseStatus status) {
  if (status == UseStatus::kStale)
    throw_new(env, kIllegalStateException, kStale);
  else
    throw_new(env, kNullPointerException, kUnbound);
}

HRESULT store_com_id(JNIEnv* env, jobject wrapper, IUnknown* object) {
  if (!object) return E_POINTER;
  HRESULT hr = S_OK;
  jfieldID field = wrapper ? com_id_field(env) : nullptr;
  if (!field) {
    hr = E_INVALIDARG;  // no wrapper, or its field could not be found (an exception is pending)
  } else {
    std::lock_guard<std::mutex> guard(g_store_lock);
    if (env->GetIntField(wrapper, field) != 0) {
      hr = EZJCOM_E_BOUND;
    } else if (const jint value = bind(object)) {
      env->SetIntField(wrapper, field, value);
      return S_OK;
    } else {
      hr = E_OUTOFMEMORY;  // no free slot
    }
  }
  in_mta([object] { object->Release(); });
  return hr;
}

}  // namespace ezjcom

using namespace ezjcom;

EZJCOM_API HRESULT EZJCOM_CALL ezjcomStoreComId(JNIEnv* env, jobject wrapper, IUnknown* object) {
  return store_com_id(env, wrapper, object);
}

EZJCOM_API HRESULT EZJCOM_CALL ezjcomStoreEventId(JNIEnv* env, jobject holder, IUnknown* sink) {
  jfieldID field = holder ? event_id_field(env) : nullptr;
  const jint value = field && sink ? bind(sink) : 0;
  if (field) env->SetIntField(holder, field, value);
  if (value) return S_OK;
  if (sink) sink->Release();
  return field ? E_OUTOFMEMORY : E_INVALIDARG;
}

EZJCOM_API void EZJCOM_CALL ezjcomDropEventId(JNIEnv* env, jobject holder) {
  jfieldID field = holder ? event_id_field(env) : nullptr;
  if (!field) return;
  const jint value = env->GetIntField(holder, field);
  env->SetIntField(holder, field, 0);
  close_value(value);
}

// Gives back the reference of one binding, given as the value a com-id field
// held. The Java side (ezjcom.JComObject) takes the value out of the field
// exactly once, by an atomic swap, and hands it here; uses still in flight
// keep the object until the last of them ends.
extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComRelease(JNIEnv*, jclass,
                                                                         jint comId) {
  if (const unsigned h = hooks()) {
    Use seen_use = enter_value(comId);
    IUnknown* object = seen_use.object();
    seen(h, "__JComRelease", [&](Line& l) { l.ptr(object); });
  }
  close_value(comId);
}

// Binds this unbound wrapper to the object behind `source`, with a reference
// of its own.
extern "C" JNIEXPORT jboolean JNICALL Java_ezjcom_JComObject__1_1JComShare(JNIEnv* env,
                                                                           jobject self,
                                                                           jobject source) {
  Use use = enter_wrapper(env, source);
  if (env->ExceptionCheck()) return JNI_FALSE;
  if (!use) {
    throw_unusable(env, use.status());
    return JNI_FALSE;
  }
  IUnknown* object = use.object();
  in_mta([object] { object->AddRef(); });
  const HRESULT hr = store_com_id(env, self, object);
  if (SUCCEEDED(hr)) return JNI_TRUE;
  if (!env->ExceptionCheck())
    throw_new(
        env, kIllegalStateException,
        hr == EZJCOM_E_BOUND ? "JComObject is already bound" : "No room for another COM binding");
  return JNI_FALSE;
}
