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
// component may send it by value or by reference as VT_UI1 or VT_I1 (the
// byte itself), or as a wider integer (VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT,
// VT_UINT) holding a character code. A key is delivered only when it fits one
// byte without loss: any byte, or a character code from 0 to 255 (the Java
// byte then reads back as code & 0xFF). Any other key is delivered as a null
// array. By reference, a change the listener makes to a delivered key is
// written back in the key's own type, so a listener can change the key or
// swallow it (0); a key it could not see is never written.
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
    const auto code = static_cast<uint8_t>(now);
    switch (target_->vt & VT_TYPEMASK) {
      case VT_UI1: *target_->pbVal = code; break;
      case VT_I1: *target_->pcVal = static_cast<CHAR>(now); break;
      case VT_I2: *target_->piVal = code; break;
      case VT_UI2: *static_cast<USHORT*>(target_->byref) = code; break;
      case VT_I4: *target_->plVal = code; break;
      case VT_UI4: *static_cast<ULONG*>(target_->byref) = code; break;
      case VT_INT: *target_->pintVal = code; break;
      case VT_UINT: *static_cast<UINT*>(target_->byref) = code; break;
      default: break;
    }
  }

 private:
  // The key as the byte it fits in; false when it fits none or is no key.
  static bool read(const VARIANT& v, jbyte& key) {
    const bool byref = (v.vt & VT_BYREF) != 0;
    if (byref && !v.byref) return false;
    long long code = 0;
    switch (v.vt & ~VT_BYREF) {
      case VT_UI1: key = static_cast<jbyte>(byref ? *v.pbVal : v.bVal); return true;
      case VT_I1: key = static_cast<jbyte>(byref ? *v.pcVal : v.cVal); return true;
      case VT_I2: code = byref ? *v.piVal : v.iVal; break;
      case VT_UI2: code = byref ? *static_cast<const USHORT*>(v.byref) : v.uiVal; break;
      case VT_I4: code = byref ? *v.plVal : v.lVal; break;
      case VT_UI4: code = byref ? *static_cast<const ULONG*>(v.byref) : v.ulVal; break;
      case VT_INT: code = byref ? *v.pintVal : v.intVal; break;
      case VT_UINT: code = byref ? *static_cast<const UINT*>(v.byref) : v.uintVal; break;
      default: return false;
    }
    if (code < 0 || code > 0xFF) return false;
    key = static_cast<jbyte>(static_cast<uint8_t>(code));
    return true;
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
// the DISPID and the DISPPARAMS are used. The delivery holds a reference of
// its own: a release on another thread cannot end the sink (and delete its
// global references) under it, and a sink whose last reference is gone (a
// component calling it after releasing it) calls no Java.
HRESULT STDMETHODCALLTYPE ScanMonturaEventSink::Invoke(DISPID dispid, REFIID, LCID, WORD,
                                                       DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                                       UINT*) {
  if (AddRef() == 0) return S_OK;  // dead
  Deliver(dispid, params);
  Release();
  return S_OK;
}

void ScanMonturaEventSink::Deliver(DISPID dispid, DISPPARAMS* params) {
  JNIEnv* env = ezjcomGetJniEnv();
  ezjcomInitEventThread(env);
  if (serverSide_ && (CheckServerSideEvents(env) & 0xFF) == 0) return;

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
}

}  // namespace jtz
