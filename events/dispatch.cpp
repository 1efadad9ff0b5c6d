// Delivery of the component's events to Java: the sink's Invoke.
#include <jni.h>
#include <oaidl.h>

#include "event_sink.h"
#include "jni_util.h"
#include "runtime.h"

namespace jtz {
namespace {

struct Event {
  DISPID dispid;
  const char* name;       // the Java method's name
  const char* signature;  // the Java method's signature
  int argCount;
};

// The events of IScanMonturaEvents; no other DISPID is delivered.
constexpr Event kEvents[] = {
    {1, "OnChange", "()V", 0},
    {2, "OnClick", "()V", 0},
    {3, "OnDblClick", "()V", 0},
    {9, "OnKeyPress", "([B)V", 1},
};

const Event* find_event(DISPID dispid) {
  for (const Event& e : kEvents)
    if (e.dispid == dispid) return &e;
  return nullptr;
}

constexpr char kErrorCallback[] = "JComOnEventError";
constexpr char kErrorSignature[] = "(Ljava/lang/String;Ljava/lang/String;)V";
constexpr char kExceptionCallback[] = "JComOnEventException";
constexpr char kExceptionSignature[] = "(Ljava/lang/String;Ljava/lang/Throwable;)V";
constexpr char kNoMethod[] = "Unable to locate method";

// The key of OnKeyPress, delivered to Java as a one-element byte array. The
// component may send it by value or by reference as VT_UI1, VT_I1, VT_I2 or
// VT_I4; by reference, the byte the listener leaves is written back, so a
// listener can change the key or swallow it (0).
class KeyArgument {
 public:
  KeyArgument(JNIEnv* env, const DISPPARAMS* params) : env_(env), array_(env, nullptr) {
    const UINT index = argument_index(0, params, 1);
    if (!params || !params->rgvarg || index >= params->cArgs) return;
    VARIANT& v = params->rgvarg[index];
    if (!read(v, key_)) return;
    array_.reset(make_array(env, key_));
    if (array_ && (v.vt & VT_BYREF)) target_ = &v;
  }

  jbyteArray array() const { return array_.get(); }

  // After a delivery that returned normally: write a changed key back.
  void write_back() {
    if (!target_ || env_->ExceptionCheck()) return;
    jbyte now = key_;
    env_->GetByteArrayRegion(array_.get(), 0, 1, &now);
    if (now == key_) return;  // unchanged: the component's value stays as it was
    const auto key = static_cast<uint8_t>(now);
    switch (target_->vt & VT_TYPEMASK) {
      case VT_UI1: *target_->pbVal = key; break;
      case VT_I1: *target_->pcVal = static_cast<CHAR>(key); break;
      case VT_I2: *target_->piVal = key; break;
      case VT_I4: *target_->plVal = key; break;
      default: break;
    }
  }

 private:
  static bool read(const VARIANT& v, jbyte& key) {
    const bool byref = (v.vt & VT_BYREF) != 0;
    if (byref && !v.byref) return false;
    switch (v.vt & ~VT_BYREF) {
      case VT_UI1: key = static_cast<jbyte>(byref ? *v.pbVal : v.bVal); return true;
      case VT_I1: key = static_cast<jbyte>(byref ? *v.pcVal : v.cVal); return true;
      case VT_I2: key = static_cast<jbyte>(byref ? *v.piVal : v.iVal); return true;
      case VT_I4: key = static_cast<jbyte>(byref ? *v.plVal : v.lVal); return true;
      default: return false;
    }
  }

  static jbyteArray make_array(JNIEnv* env, jbyte key) {
    jbyteArray a = env->NewByteArray(1);
    if (a) env->SetByteArrayRegion(a, 0, 1, &key);
    return a;
  }

  JNIEnv* env_;
  LocalRef<jbyteArray> array_;
  jbyte key_ = 0;
  VARIANT* target_ = nullptr;
};

// Calls a listener callback, looked up on the object's class, if it has one.
void call_back(JNIEnv* env, jobject target, const char* name, const char* signature,
               const char* eventName, const char* message, jthrowable exception) {
  LocalRef<jclass> cls(env, env->GetObjectClass(target));
  jmethodID m = env->GetMethodID(cls.get(), name, signature);
  if (!m) return;  // the lookup's exception is cleared by the final check
  LocalRef<jstring> event(env, env->NewStringUTF(eventName));
  if (!event) return;
  if (message) {
    LocalRef<jstring> text(env, env->NewStringUTF(message));
    if (text) env->CallVoidMethod(target, m, event.get(), text.get());
  } else {
    env->CallVoidMethod(target, m, event.get(), exception);
  }
}

}  // namespace

// Delivers one event; the component always gets S_OK. Of the arguments only
// the DISPID and the DISPPARAMS are used.
HRESULT STDMETHODCALLTYPE ScanMonturaEventSink::Invoke(DISPID dispid, REFIID, LCID, WORD,
                                                       DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                                       UINT*) {
  JNIEnv* env = ezjcomGetJniEnv();
  ezjcomInitEventThread(env);
  if (serverSide_ && (CheckServerSideEvents(env) & 0xFF) == 0) return S_OK;

  const char* error = nullptr;
  const char* eventName = nullptr;
  if (const Event* event = find_event(dispid)) {
    jmethodID method = nullptr;
    if (!serverSide_) {
      LocalRef<jclass> cls(env, env->GetObjectClass(javaObject_));
      method = env->GetMethodID(cls.get(), event->name, event->signature);
      if (!method) error = kNoMethod;
    }
    eventName = event->name;
    if (event->argCount == 1) {
      // NOLINTNEXTLINE(bugprone-branch-clone): the two empty branches are different cases.
      if (!serverSide_ && !method) {
        // Nothing to deliver to; the lookup's exception is reported below.
      } else if (KeyArgument key(env, params); env->ExceptionCheck()) {
        // The key's array could not be made: reported below like a listener's exception.
      } else if (serverSide_) {
        OnServerSideEvent(env, javaObject_, serverSideValue_, 1, 0, "void", eventName, 0, "byte []",
                          static_cast<jobject>(key.array()));
        key.write_back();
      } else {
        env->CallVoidMethod(javaObject_, method, key.array());
        key.write_back();
      }
    } else if (serverSide_) {
      OnServerSideEvent(env, javaObject_, serverSideValue_, 0, 0, "void", eventName);
    } else if (method) {
      env->CallVoidMethod(javaObject_, method);
    }
  }

  if (error) {
    env->ExceptionClear();
    call_back(env, javaObject_, kErrorCallback, kErrorSignature, eventName, error, nullptr);
  } else if (LocalRef<jthrowable> thrown(env, env->ExceptionOccurred()); thrown) {
    env->ExceptionClear();
    if (eventName)
      call_back(env, javaObject_, kExceptionCallback, kExceptionSignature, eventName, nullptr,
                thrown.get());
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
  return S_OK;
}

}  // namespace jtz
