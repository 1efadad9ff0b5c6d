// Creation of the component and binding of wrapper objects to its interfaces.
#include <jni.h>
#include <oaidl.h>

#include <algorithm>

#include "guids.h"
#include "jni_util.h"
#include "runtime.h"

using namespace jtz;

namespace {

// The interfaces asked of a remotely created component, in this order.
const IID* const kRemoteInterfaces[2] = {&IID_IUnknown, &kIidIScanMontura};

constexpr char kAlreadyBound[] = "JComObject is already bound";

// Binds the wrapper to p, whose reference the runtime takes over (and gives
// back when the binding fails: the wrapper bound meanwhile by another thread,
// or no room for another binding), with IllegalStateException raised then
// where `raise` says so.
bool store_binding(JNIEnv* env, jobject wrapper, void* p, bool raise = true) {
  const HRESULT hr = ezjcomStoreComId(env, wrapper, static_cast<IUnknown*>(p));
  if (SUCCEEDED(hr)) return true;
  if (raise && !env->ExceptionCheck())
    throw_new(env, kIllegalState,
              hr == EZJCOM_E_BOUND ? kAlreadyBound : "No room for another COM binding");
  return false;
}

// True, with IllegalStateException raised, when the wrapper is bound already:
// binding it again would lose its pointer, and with it the reference it holds
// and whatever was connected through it.
bool refuse_rebind(JNIEnv* env, jobject wrapper) {
  if (env->GetIntField(wrapper, ezjcomGetComId()) == 0) return false;
  throw_new(env, kIllegalState, kAlreadyBound);
  return true;
}

// Binds `wrapper` to interface `iid` of the object behind `source`, falling
// back to IDispatch when allowed. `raise` selects whether a failure raises an
// exception (a null source, a wrapper bound already, an unavailable interface
// without the fallback) or is reported by false alone.
jboolean load_interface(JNIEnv* env, jobject wrapper, jobject source, jboolean allowDispatch,
                        REFIID iid, bool raise) {
  ezjcomInitThread(env);
  if (!source) {
    if (raise) throw_new(env, kNullPointer, "Argument 1 is null");
    return JNI_FALSE;
  }
  if (env->GetIntField(wrapper, ezjcomGetComId()) != 0) {
    // Binding it again would lose its reference, and whatever was connected through it.
    if (raise) throw_new(env, kIllegalState, kAlreadyBound);
    return JNI_FALSE;
  }
  // A use of the source's binding for the whole query: a close on another
  // thread gives its reference back only once the query is over. An unbound
  // source is queried as the value 0, which the runtime refuses (E_POINTER).
  ComIdUse binding(env, source);
  if (binding.status() == EZJCOM_USE_STALE) {
    if (raise) throw_unusable(env, binding.status());
    return JNI_FALSE;
  }
  const jint s = binding ? binding.value() : 0;
  void* q = nullptr;
  HRESULT hr = ezjcomQueryInterface(env, s, iid, &q);
  if (fatal_error(env)) return JNI_FALSE;
  if (FAILED(hr) && allowDispatch) {
    hr = ezjcomQueryInterface(env, s, IID_IDispatch, &q);
    if (fatal_error(env)) return JNI_FALSE;
  }
  if (FAILED(hr)) {
    if (raise && !allowDispatch) ezjcomThrowComExceptionObject(env, hr, nullptr);
    return JNI_FALSE;
  }
  return store_binding(env, wrapper, q, raise) ? JNI_TRUE : JNI_FALSE;
}

// True when a character of s is NUL (false with OutOfMemoryError pending
// when its characters cannot be had).
bool contains_nul(JNIEnv* env, jstring s) {
  const jsize n = env->GetStringLength(s);
  ScopedStringChars chars(env, s);
  if (!chars.get()) return false;  // OutOfMemoryError pending
  return std::find(chars.get(), chars.get() + n, jchar{0}) != chars.get() + n;
}

enum class Primitive { kNo, kYes, kUnknown };

// Whether cls stands for a primitive type (Class.isPrimitive). For one, an
// InstantiationException with the type's name is raised.
Primitive primitive_type(JNIEnv* env, jclass cls) {
  LocalRef<jclass> classClass(env, env->GetObjectClass(cls));
  jmethodID isPrimitive = env->GetMethodID(classClass.get(), "isPrimitive", "()Z");
  if (!isPrimitive) return Primitive::kUnknown;
  const jboolean yes = env->CallBooleanMethod(cls, isPrimitive);
  if (env->ExceptionCheck()) return Primitive::kUnknown;
  if (!yes) return Primitive::kNo;
  jmethodID getName = env->GetMethodID(classClass.get(), "getName", "()Ljava/lang/String;");
  if (!getName) return Primitive::kUnknown;
  LocalRef<jstring> name(env, static_cast<jstring>(env->CallObjectMethod(cls, getName)));
  if (env->ExceptionCheck() || !name) return Primitive::kUnknown;
  ScopedUtfChars chars(env, name.get());
  if (!chars) return Primitive::kUnknown;
  throw_new(env, kInstantiation, chars.get());
  return Primitive::kYes;
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_puente_ScanMontura__1_1JComGetGUID(JNIEnv* env, jobject) {
  return env->NewStringUTF(kClsidScanMonturaText);
}

JNIEXPORT jobject JNICALL Java_puente_ScanMontura__1_1JComNewObj__Ljava_lang_Class_2(JNIEnv* env,
                                                                                     jobject,
                                                                                     jclass cls) {
  if (!cls) {
    throw_new(env, kNullPointer, "Argument 1 is null");
    return nullptr;
  }
  // A primitive type's Class (int.class, void.class) is no class to JNI:
  // refused as AllocObject refuses the other uninstantiable ones.
  // (kYes has raised InstantiationException; kUnknown leaves the lookup's exception pending.)
  if (primitive_type(env, cls) != Primitive::kNo) return nullptr;
  jmethodID init = env->GetMethodID(cls, "<init>", "()V");
  LocalRef<jthrowable> failed(env, env->ExceptionOccurred());
  if (failed) {
    // No usable no-argument constructor: an instance on which none has run.
    env->ExceptionClear();
    return env->AllocObject(cls);
  }
  return env->NewObject(cls, init);
}

JNIEXPORT jboolean JNICALL Java_puente_ScanMontura__1_1JComCreateObject__ZZ(JNIEnv* env,
                                                                            jobject wrapper,
                                                                            jboolean activeInstance,
                                                                            jboolean miscCreate) {
  ezjcomInitThread(env);
  if (refuse_rebind(env, wrapper)) return JNI_FALSE;
  void* p = nullptr;
  HRESULT hr;
  if (activeInstance)
    hr = ezjcomGetActiveInstance(env, kClsidScanMontura, &p);
  else if (miscCreate)
    hr = ezjcomMiscFunc4(env, kClsidScanMontura, &p, 0);
  else
    hr = ezjcomCreateInstance(env, kClsidScanMontura, &p);
  if (fatal_error(env)) return JNI_FALSE;
  if (FAILED(hr)) {
    ezjcomThrowComExceptionObject(env, hr, nullptr);
    return JNI_FALSE;
  }
  if (!store_binding(env, wrapper, p)) return JNI_FALSE;
  ezjcomSetAccessType(2);
  return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL
Java_puente_ScanMontura__1_1JComCreateObjectRemote__Ljava_lang_String_2Ljava_lang_String_2Ljava_lang_String_2Ljava_lang_String_2I(
    JNIEnv* env, jobject, jstring machine, jstring text2, jstring text3, jstring text4,
    jint value) {
  ezjcomInitThread(env);
  if (!machine) {
    throw_new(env, kNullPointer, "RemoteMachine name is null");
    return JNI_FALSE;
  }
  // The runtime takes the name up to its first NUL: a name with one inside
  // would silently name another machine (or this one).
  const bool nul = contains_nul(env, machine);
  if (env->ExceptionCheck()) return JNI_FALSE;
  if (nul) {
    throw_new(env, kIllegalArgument, "RemoteMachine name contains a NUL character");
    return JNI_FALSE;
  }
  ScopedStringChars m(env, machine), t2(env, text2), t3(env, text3), t4(env, text4);
  const HRESULT hr = ezjcomCreateInstanceRemote(env, kClsidScanMontura, m.get(), t2.get(), t3.get(),
                                                t4.get(), 2, value, kRemoteInterfaces);
  // Given back in the order they were taken.
  m.reset();
  t2.reset();
  t3.reset();
  t4.reset();
  if (fatal_error(env)) return JNI_FALSE;
  if (FAILED(hr)) {
    ezjcomThrowComExceptionObject(env, hr, nullptr);
    return JNI_FALSE;
  }
  return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_puente_IScanMontura__1_1JComLoad__Lezjcom_JComObject_2Z(
    JNIEnv* env, jobject wrapper, jobject source, jboolean allowDispatch) {
  return load_interface(env, wrapper, source, allowDispatch, kIidIScanMontura, true);
}

JNIEXPORT jboolean JNICALL Java_puente_IScanMonturaEvents__1_1JComLoad__Lezjcom_JComObject_2Z(
    JNIEnv* env, jobject wrapper, jobject source, jboolean allowDispatch) {
  return load_interface(env, wrapper, source, allowDispatch, kIidIScanMonturaEvents, false);
}

}  // extern "C"
