// The operations this library implements, as the bridge declares them.
#pragma once

#include <jni.h>

#if defined(_WIN32) && defined(EZJCOM_BUILDING)
// The bridge imports the runtime's native __JComAdvise; this library defines
// and exports it.
#undef JNIIMPORT
#define JNIIMPORT JNIEXPORT
#endif

#include "bridge/runtime.h"
