// jtz_bench_alloc: runs jtzbench.AllocBench on a JVM embedded in this
// executable, whose allocator counts (alloc_count.c). The counting window is
// the natives of jtzbench.AllocCounter, registered here.
//
//   jtz_bench_alloc [calls]     (default 20000 calls per case)
#include <jni.h>

#include <cstdio>
#include <string>

#include "alloc_count.h"

namespace {

jlong g_frees = 0;  // of the last window; read on the thread that closed it

void JNICALL begin(JNIEnv*, jclass) { jtz_alloc_begin(); }

jlong JNICALL end(JNIEnv*, jclass) {
  unsigned long allocs = 0, frees = 0;
  jtz_alloc_end(&allocs, &frees);
  g_frees = static_cast<jlong>(frees);
  return static_cast<jlong>(allocs);
}

jlong JNICALL frees(JNIEnv*, jclass) { return g_frees; }

bool failed(JNIEnv* env, const char* what) {
  if (!env->ExceptionCheck()) return false;
  std::fprintf(stderr, "jtz_bench_alloc: %s failed\n", what);
  env->ExceptionDescribe();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cp = std::string("-Djava.class.path=") + JTZ_BENCH_CLASSPATH;
  std::string lp = std::string("-Djava.library.path=") + JTZ_BENCH_LIBPATH;
  JavaVMOption options[] = {
      {const_cast<char*>(cp.c_str()), nullptr},
      {const_cast<char*>(lp.c_str()), nullptr},
      {const_cast<char*>("-Djava.awt.headless=true"), nullptr},
  };
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = sizeof options / sizeof options[0];
  args.options = options;
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
    std::fprintf(stderr, "jtz_bench_alloc: JNI_CreateJavaVM failed\n");
    return 1;
  }

  int status = 1;
  jclass counter = env->FindClass("jtzbench/AllocCounter");
  jclass bench = counter ? env->FindClass("jtzbench/AllocBench") : nullptr;
  if (!failed(env, "loading the benchmark classes")) {
    JNINativeMethod natives[] = {
        {const_cast<char*>("begin"), const_cast<char*>("()V"), reinterpret_cast<void*>(begin)},
        {const_cast<char*>("end"), const_cast<char*>("()J"), reinterpret_cast<void*>(end)},
        {const_cast<char*>("frees"), const_cast<char*>("()J"), reinterpret_cast<void*>(frees)},
    };
    env->RegisterNatives(counter, natives, sizeof natives / sizeof natives[0]);
    jmethodID main = failed(env, "RegisterNatives")
                         ? nullptr
                         : env->GetStaticMethodID(bench, "main", "([Ljava/lang/String;)V");
    jclass string = main ? env->FindClass("java/lang/String") : nullptr;
    jobjectArray javaArgs =
        string ? env->NewObjectArray(argc > 1 ? argc - 1 : 0, string, nullptr) : nullptr;
    for (int i = 1; javaArgs && i < argc; ++i) {
      jstring arg = env->NewStringUTF(argv[i]);
      env->SetObjectArrayElement(javaArgs, i - 1, arg);
      env->DeleteLocalRef(arg);
    }
    if (javaArgs && !failed(env, "preparing the arguments")) {
      env->CallStaticVoidMethod(bench, main, javaArgs);
      if (!failed(env, "jtzbench.AllocBench")) status = 0;
    }
  }
  vm->DestroyJavaVM();
  return status;
}
