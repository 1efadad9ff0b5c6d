// Giving back the COM reference that a wrapper's com-id field holds. The Java
// side (ezjcom.JComObject) takes the pointer out of the field exactly once,
// by an atomic swap, and hands it here: this native only releases it.
#include <objbase.h>

#include "hooks.h"
#include "runtime_state.h"
#include "thread_state.h"

using namespace ezjcom;

extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComRelease(JNIEnv*, jclass,
                                                                         jint comId) {
  IUnknown* object = pointer_from_field<IUnknown>(comId);
  if (const unsigned h = hooks()) seen(h, "__JComRelease", [&](Line& l) { l.ptr(object); });
  if (!object) return;
  // The caller may be any thread, the cleaner's among them: objects live in
  // the multithreaded apartment, which the thread joins here if it has not.
  ensure_com_thread();
  object->Release();
}
