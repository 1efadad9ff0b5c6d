// The tests' own Java classes (tests/runtime/java), defined in the JVM's
// application class loader at first use, so that FindClass finds them from
// any thread.
//
//   jclass fruit = rtest::test_class(env, "rtest/Fruit");
#pragma once

#include <jni.h>

namespace rtest {

// A global reference to the class (never deleted); null with a Java
// exception pending when it cannot be defined.
jclass test_class(JNIEnv* env, const char* slashName);

// A new instance through the no-argument constructor (a local ref), of a
// class FindClass finds (test classes once test_class has defined them).
jobject new_object(JNIEnv* env, const char* slashName);

// The int field `name` of obj.
jint int_field(JNIEnv* env, jobject obj, const char* name);
void set_int_field(JNIEnv* env, jobject obj, const char* name, jint value);

}  // namespace rtest
