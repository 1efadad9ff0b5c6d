// The Java VM the runtime serves, and the JNI environments of its threads.
#pragma once

#include <jni.h>

#include <atomic>

namespace ezjcom {

// Remembers the VM of env (the first one given wins; a process has one VM).
void remember_vm(JNIEnv* env);

// The VM: the remembered one, else the one the process has created (looked
// up at run time, since this library does not link the JVM). Null when there
// is none yet.
JavaVM* java_vm();

// The calling thread's environment. A thread that is not attached is attached
// once, as a daemon, and detached when it ends. Null, with a fatal error
// pending, when there is no VM or the attach fails.
JNIEnv* thread_env();

// Threads this library attached: still attached, and in all.
extern std::atomic<long> g_attached_live;
extern std::atomic<long> g_attached_total;

// ---- per platform (jvm_posix.cpp, jvm_win32.cpp) ----

// JNI_GetCreatedJavaVMs of the JVM loaded in this process, or null.
using GetCreatedJavaVMs = jint(JNICALL*)(JavaVM**, jsize, jsize*);
GetCreatedJavaVMs find_get_created_vms();

// Arranges for the calling thread, which this library has just attached to
// vm, to be detached when it ends.
void detach_at_thread_exit(JavaVM* vm);

}  // namespace ezjcom
