// Strings, enumerations, and the Java exception of a failed COM call.
#if defined(_WIN32)
#include <windows.h>  // the Windows SDK's oleauto.h needs it first
#endif
#include <oleauto.h>

#include <new>
#include <string>

#include "contract.h"
#include "hooks.h"
#include "local_ref.h"
#include "runtime_state.h"
#include "thread_state.h"

namespace ezjcom {
namespace {

// A Java string of a BSTR's characters (embedded NULs kept); "" for null.
jstring new_string(JNIEnv* env, BSTR b) {
  static const jchar kEmpty[1] = {0};
  if (!b) return env->NewString(kEmpty, 0);
  return env->NewString(reinterpret_cast<const jchar*>(b), static_cast<jsize>(SysStringLen(b)));
}

void free_bstr(BSTR& b) {
  SysFreeString(b);
  b = nullptr;
}

}  // namespace

void throw_com_exception(JNIEnv* env, HRESULT hr, BSTR source, BSTR description) {
  // An exception already pending is the one Java sees.
  if (env->ExceptionCheck()) return;
  LocalRef<jclass> cls(env, env->FindClass(kJComException));
  if (!cls) return;  // NoClassDefFoundError is pending instead
  jmethodID init =
      env->GetMethodID(cls.get(), "<init>", "(ILjava/lang/String;Ljava/lang/String;)V");
  if (!init) return;
  LocalRef<jstring> src(env, source ? new_string(env, source) : nullptr);
  LocalRef<jstring> desc(env, description ? new_string(env, description) : nullptr);
  if (env->ExceptionCheck()) return;
  LocalRef<jthrowable> e(env, static_cast<jthrowable>(env->NewObject(
                                  cls.get(), init, static_cast<jint>(hr), src.get(), desc.get())));
  if (e) env->Throw(e.get());
}

}  // namespace ezjcom

using namespace ezjcom;

// Raises ezjcom.JComException for hr with the source and description of
// excepInfo (after its deferred fill-in), and frees excepInfo's strings.
EZJCOM_API int EZJCOM_CALL ezjcomThrowComExceptionObject(JNIEnv* env, HRESULT hr,
                                                         EXCEPINFO* excepInfo) {
  if (const unsigned h = hooks()) {
    seen(h, "ezjcomThrowComExceptionObject",
         [&](Line& l) { l.hr(hr).text(excepInfo ? "excepinfo" : nullptr); });
  }
  if (excepInfo && excepInfo->pfnDeferredFillIn) {
    auto fill = excepInfo->pfnDeferredFillIn;
    excepInfo->pfnDeferredFillIn = nullptr;  // filled once
    fill(excepInfo);
  }
  BSTR reason = nullptr;
#if !defined(_WIN32)
  // A creation that failed in the class registry or the loader says why: the file at fault and
  // the loader's own words, as the description.
  if (!excepInfo) reason = jtzcom_take_creation_failure(hr);
#endif
  if (env) {
    throw_com_exception(env, hr, excepInfo ? excepInfo->bstrSource : nullptr,
                        excepInfo ? excepInfo->bstrDescription : reason);
  }
  free_bstr(reason);
  if (excepInfo) {
    free_bstr(excepInfo->bstrSource);
    free_bstr(excepInfo->bstrDescription);
    free_bstr(excepInfo->bstrHelpFile);
  }
  return 0;
}

// Exactly the UTF-16 of the string (no modified UTF-8 on the way); null for
// a null string. The caller frees the BSTR.
EZJCOM_API BSTR EZJCOM_CALL ezjcomJstringToBstr(JNIEnv* env, jstring str) {
  if (const unsigned h = hooks()) seen(h, "ezjcomJstringToBstr", no_args);
  if (!env || !str) return nullptr;
  const jsize n = env->GetStringLength(str);
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (!b) {
    set_fatal();
    return nullptr;
  }
  env->GetStringRegion(str, 0, n, reinterpret_cast<jchar*>(b));
  return b;
}

// A new Java string of the BSTR's SysStringLen characters; "" for null.
EZJCOM_API jstring EZJCOM_CALL ezjcomBstrToJstr(JNIEnv* env, BSTR bstr) {
  if (const unsigned h = hooks()) seen(h, "ezjcomBstrToJstr", no_args);
  if (!env) return nullptr;
  return new_string(env, bstr);
}

// The integer of an enumeration constant: its value() method.
EZJCOM_API int EZJCOM_CALL ezjcomEnumeratedObjectToInt(JNIEnv* env, jobject enumObject) {
  if (const unsigned h = hooks()) seen(h, "ezjcomEnumeratedObjectToInt", no_args);
  if (!env) return 0;
  if (!enumObject) {
    throw_new(env, kNullPointerException, "Enumeration argument is null");
    return 0;
  }
  LocalRef<jclass> cls(env, env->GetObjectClass(enumObject));
  jmethodID value = env->GetMethodID(cls.get(), "value", "()I");
  if (!value) return 0;  // NoSuchMethodError pending
  return env->CallIntMethod(enumObject, value);
}

// The constant of the named enumeration class for value: its static
// fromValue(int). Null, with the Java exception pending, when there is none.
EZJCOM_API jobject EZJCOM_CALL ezjcomIntToEnumeratedObject(JNIEnv* env, int value,
                                                           const char* slashClassName) try {
  if (const unsigned h = hooks()) {
    seen(h, "ezjcomIntToEnumeratedObject", [&](Line& l) { l.num(value).text(slashClassName); });
  }
  if (!env) return nullptr;
  if (!slashClassName) {
    throw_new(env, kNullPointerException, "Enumeration class name is null");
    return nullptr;
  }
  LocalRef<jclass> cls(env, env->FindClass(slashClassName));
  if (!cls) return nullptr;
  const std::string signature = std::string("(I)L") + slashClassName + ";";
  jmethodID from = env->GetStaticMethodID(cls.get(), "fromValue", signature.c_str());
  if (!from) return nullptr;
  LocalRef<jobject> constant(env, env->CallStaticObjectMethod(cls.get(), from, value));
  if (env->ExceptionCheck()) return nullptr;
  return constant.release();
} catch (const std::bad_alloc&) {
  if (env) throw_new(env, "java/lang/OutOfMemoryError", "enumeration lookup");
  return nullptr;
}
