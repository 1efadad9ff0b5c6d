// Listener registration: direct-delivery listeners and server-side delivery.
#include <jni.h>

#include <cstring>

#include "event_sink.h"
#include "jni_util.h"
#include "runtime.h"

using namespace jtz;

namespace {

constexpr char kEventInterfaceName[] = "puente.IScanMonturaEvents";

// Puts a sink, with its creation reference, in an event-id field (through the
// runtime, whose binding the field then holds). When no more bindings fit,
// the sink is released, the field left at 0 and IllegalStateException raised.
bool store_sink(JNIEnv* env, jobject holder, ScanMonturaEventSink* sink) {
  const HRESULT hr = ezjcomStoreEventId(env, holder, sink);
  if (SUCCEEDED(hr) || !sink) return true;  // no sink: the field is 0, as it says
  throw_new(env, kIllegalState, "No room for another COM binding");
  return false;
}

// Gives up the creation reference held in a listener's event-id field (or,
// without a holder, the sink's own) after a later step of the registration
// failed.
void drop_sink(JNIEnv* env, jobject holder, ScanMonturaEventSink* sink) {
  // The field write and the release must not run with an exception pending.
  LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
  if (pending) env->ExceptionClear();
  if (holder)
    ezjcomDropEventId(env, holder);
  else
    sink->Release();
  if (pending) env->Throw(pending.get());
}

}  // namespace

// The runtime's native that disconnects a listener (a function of
// ezjcom.JComObject, called here as __JComAdvise is).
extern "C" EZJCOM_NATIVE void JNICALL Java_ezjcom_JComObject__1_1JComUnadvise(JNIEnv* env,
                                                                              jobject wrapper,
                                                                              jobject listener,
                                                                              jint cookie);

namespace {

// Ends the connection a registration made before a later step of it failed:
// the connection goes, and with it the sink's creation reference. The
// exception that stopped the registration is the one left pending.
void undo_advise(JNIEnv* env, jobject wrapper, jobject listener, jint cookie) {
  LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
  if (pending) env->ExceptionClear();
  Java_ezjcom_JComObject__1_1JComUnadvise(env, wrapper, listener, cookie);
  // Should the component refuse, its connection stays: nothing more can end it here.
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (pending) env->Throw(pending.get());
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL
Java_puente_IScanMonturaEvents__1_1JComEventListenerInit(JNIEnv* env, jobject listener) {
  ezjcomInitThread(env);
  ScanMonturaEventSink* sink = ScanMonturaEventSink::Create(listener);
  return store_sink(env, listener, sink) ? JNI_TRUE : JNI_FALSE;
}

// Every JNI step that can fail comes before the advise, but the boxing of the
// cookie: a failure after the advise ends the connection before null is
// returned, so that no connection outlives a registration nobody holds.
JNIEXPORT jobjectArray JNICALL Java_puente_ScanMontura__1_1RemoteEventAdd(JNIEnv* env,
                                                                          jobject wrapper,
                                                                          jstring name) {
  if (!name) {
    throw_new(env, kNullPointer, "Argument 1 is null");
    return nullptr;
  }
  ScanMonturaEventSink* sink = nullptr;
  {
    ScopedUtfChars chars(env, name);
    if (!chars) return nullptr;
    // The sink is allocated before the reference to the name is made, and
    // that reference only when the allocation succeeded.
    if (std::strcmp(chars.get(), kEventInterfaceName) == 0)
      sink = ScanMonturaEventSink::CreateServerSide(env, name, wrapper);
  }
  if (!sink) return nullptr;

  LocalRef<jclass> listenerClass(env, env->FindClass("ezjcom/JComEventListener"));
  LocalRef<jobject> listener(env, listenerClass ? env->AllocObject(listenerClass.get()) : nullptr);
  LocalRef<jclass> objectClass(env, listener ? env->FindClass("java/lang/Object") : nullptr);
  LocalRef<jobjectArray> result(
      env, objectClass ? env->NewObjectArray(2, objectClass.get(), nullptr) : nullptr);
  LocalRef<jclass> integerClass(env, result ? env->FindClass("java/lang/Integer") : nullptr);
  jmethodID init = integerClass ? env->GetMethodID(integerClass.get(), "<init>", "(I)V") : nullptr;
  if (!init) {
    drop_sink(env, nullptr, sink);
    return nullptr;
  }
  if (!store_sink(env, listener.get(), sink)) return nullptr;

  const jint cookie = Java_ezjcom_JComObject__1_1JComAdvise(env, wrapper, listener.get());
  // A failed advise leaves the runtime's exception pending: nothing more may run.
  if (env->ExceptionCheck()) {
    drop_sink(env, listener.get(), sink);
    return nullptr;
  }
  LocalRef<jobject> boxed(env, env->NewObject(integerClass.get(), init, cookie));
  if (!boxed) {
    undo_advise(env, wrapper, listener.get(), cookie);
    return nullptr;
  }
  env->SetObjectArrayElement(result.get(), 0, listener.get());
  env->SetObjectArrayElement(result.get(), 1, boxed.get());
  return result.release();
}

}  // extern "C"
