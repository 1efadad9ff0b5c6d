#include "jvm.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace jtz::test {
namespace {

JavaVM* g_vm = nullptr;

class JvmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string cp = std::string("-Djava.class.path=") + JTZ_TEST_CLASSPATH;
    std::string lp = std::string("-Djava.library.path=") + JTZ_TEST_LIBPATH;
    JavaVMOption options[] = {
        {const_cast<char*>("-Xcheck:jni"), nullptr},
        {const_cast<char*>(cp.c_str()), nullptr},
        {const_cast<char*>(lp.c_str()), nullptr},
        {const_cast<char*>("-Xss2m"), nullptr},
    };
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = sizeof options / sizeof options[0];
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JNIEnv* e = nullptr;
    if (JNI_CreateJavaVM(&g_vm, reinterpret_cast<void**>(&e), &args) != JNI_OK) {
      std::fprintf(stderr, "JNI_CreateJavaVM failed\n");
      std::abort();
    }
  }
  // The JVM is not destroyed: DestroyJavaVM waits for every non-daemon thread
  // and a process may create only one JVM anyway.
};

[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new JvmEnvironment);

}  // namespace

JavaVM* vm() { return g_vm; }

JNIEnv* env() {
  JNIEnv* e = nullptr;
  if (g_vm->GetEnv(reinterpret_cast<void**>(&e), JNI_VERSION_1_8) == JNI_EDETACHED)
    g_vm->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr);
  return e;
}

std::string take_exception(JNIEnv* e) {
  jthrowable t = e->ExceptionOccurred();
  if (!t) return "";
  e->ExceptionClear();
  jclass object = e->FindClass("java/lang/Object");
  jmethodID toString = e->GetMethodID(object, "toString", "()Ljava/lang/String;");
  auto text = static_cast<jstring>(e->CallObjectMethod(t, toString));
  if (e->ExceptionCheck() || !text) {
    e->ExceptionClear();
    e->DeleteLocalRef(object);
    e->DeleteLocalRef(t);
    return "<exception whose toString failed>";
  }
  const char* chars = e->GetStringUTFChars(text, nullptr);
  std::string out = chars;
  e->ReleaseStringUTFChars(text, chars);
  e->DeleteLocalRef(text);
  e->DeleteLocalRef(object);
  e->DeleteLocalRef(t);
  return out;
}

long global_ref_count() {
  JNIEnv* e = env();
  jclass helper = e->FindClass("jtztest/JniRefs");
  if (!helper) {
    take_exception(e);
    return -1;
  }
  jmethodID count = e->GetStaticMethodID(helper, "globalRefCount", "()J");
  jlong n = e->CallStaticLongMethod(helper, count);
  if (e->ExceptionCheck()) {
    take_exception(e);
    e->DeleteLocalRef(helper);
    return -1;
  }
  e->DeleteLocalRef(helper);
  using Held = long (*)();
  if (auto held = reinterpret_cast<Held>(dlsym(RTLD_DEFAULT, "ezjcomTestHeldGlobalRefs")))
    n -= held();
  return static_cast<long>(n);
}

}  // namespace jtz::test
