// Giving back the COM reference that a wrapper's com-id field holds. The Java
// side (ezjcom.JComObject) takes the pointer out of the field exactly once,
// by an atomic swap, and hands it here: this native only releases it.
#include <objbase.h>

#include "apartment.h"
#include "hooks.h"
#include "runtime_state.h"

using namespace ezjcom;

extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComRelease(JNIEnv*, jclass,
                                                                         jint comId) {
  IUnknown* object = pointer_from_field<IUnknown>(comId);
  if (const unsigned h = hooks()) seen(h, "__JComRelease", [&](Line& l) { l.ptr(object); });
  if (!object) return;
  // The caller may be any thread, the cleaner's among them: the reference is
  // given back in the multithreaded apartment, where it was obtained.
  in_mta([object] { object->Release(); });
}
