// One real JVM for the whole test process, created before the first test.
//
//   TEST(Bridge, Something) {
//     JNIEnv* env = jtz::test::env();
//     jclass c = env->FindClass("puente/IScanMontura");
//   }
//
// The JVM runs with -Xcheck:jni; its class path and library path come from
// the test target (JTZ_TEST_CLASSPATH, JTZ_TEST_LIBPATH).
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace jtz::test {

JavaVM* vm();
// The environment of the calling thread, attaching it if needed.
JNIEnv* env();

// The text of a pending Java exception's class and message ("java.lang.X: msg"),
// or "" when none is pending. Clears the exception.
std::string take_exception(JNIEnv* e);

// The lines in which the JVM reported a misuse of JNI (-Xcheck:jni warnings,
// local references beyond capacity) since the last call. Every test fails
// that leaves such a line behind; a test that provokes one on purpose takes it.
std::vector<std::string> take_jni_complaints();

// The result of a call into Java once its exception, if any, has been looked
// at (-Xcheck:jni requires that before the next JNI call); the exception stays
// pending for the caller to take.
//   jboolean ok = checked(e, e->CallBooleanMethod(o, m));
template <class R>
R checked(JNIEnv* e, R result) {
  (void)e->ExceptionCheck();
  return result;
}

// Number of live JNI global references in the JVM, read from its thread dump,
// less those the runtime library keeps for the life of the process (its
// test hook ezjcomTestHeldGlobalRefs, where the process has loaded it): what
// the code under test holds.
long global_ref_count();

// global_ref_count(), read again for up to two seconds while it differs from
// expected: now and then the JVM itself holds one more global reference for a
// moment (seen after native threads attach and detach), which a leak outlasts.
long global_ref_count_settling_at(long expected);

}  // namespace jtz::test
