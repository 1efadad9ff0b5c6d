// JNI environments of threads: the VM found without an environment, native
// threads attached once as daemons and detached when they end, threads
// attached by others left alone, and per-thread set-up.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <thread>
#include <vector>

#include "jvm.h"
#include "runtime_api.h"

namespace {

// Runs f on a new native thread (not a Java thread) and waits for its end.
template <class F>
void on_native_thread(F f) {
  std::thread t(f);
  t.join();
}

bool is_daemon(JNIEnv* env, jobject thread) {
  jclass cls = env->FindClass("java/lang/Thread");
  jmethodID daemon = env->GetMethodID(cls, "isDaemon", "()Z");
  env->DeleteLocalRef(cls);
  const bool yes = env->CallBooleanMethod(thread, daemon) == JNI_TRUE;
  EXPECT_FALSE(env->ExceptionCheck());
  return yes;
}

bool is_alive(JNIEnv* env, jobject thread) {
  jclass cls = env->FindClass("java/lang/Thread");
  jmethodID alive = env->GetMethodID(cls, "isAlive", "()Z");
  env->DeleteLocalRef(cls);
  const bool yes = env->CallBooleanMethod(thread, alive) == JNI_TRUE;
  EXPECT_FALSE(env->ExceptionCheck());
  return yes;
}

jobject current_thread(JNIEnv* env) {
  jclass cls = env->FindClass("java/lang/Thread");
  jmethodID current = env->GetStaticMethodID(cls, "currentThread", "()Ljava/lang/Thread;");
  jobject t = env->CallStaticObjectMethod(cls, current);
  EXPECT_FALSE(env->ExceptionCheck());
  env->DeleteLocalRef(cls);
  return t;
}

// Registered first: the runtime has been given no environment yet, so it
// must find the VM of the process by itself.
TEST(Threads, NativeThreadFindsTheVmWithoutAnyEnvironmentGiven) {
  JavaVM* vm = jtz::test::vm();
  ASSERT_NE(vm, nullptr);
  JNIEnv* seen = nullptr;
  on_native_thread([&] {
    JNIEnv* env = ezjcomGetJniEnv();
    JNIEnv* direct = nullptr;
    vm->GetEnv(reinterpret_cast<void**>(&direct), JNI_VERSION_1_8);
    EXPECT_EQ(env, direct);
    seen = env;
    EXPECT_EQ(ezjcomCheckFatalError(env), 0);
  });
  EXPECT_NE(seen, nullptr);
}

TEST(Threads, NativeThreadIsAttachedOnceAsDaemonAndDetachedAtItsEnd) {
  JNIEnv* main_env = jtz::test::env();
  const long live = ezjcomTestAttachedThreads();
  const long total = ezjcomTestAttachedThreadsTotal();
  jobject java_thread = nullptr;
  on_native_thread([&] {
    JNIEnv* first = ezjcomGetJniEnv();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ezjcomTestAttachedThreads(), live + 1);
    JNIEnv* second = ezjcomGetJniEnv();
    EXPECT_EQ(second, first);
    EXPECT_EQ(ezjcomTestAttachedThreadsTotal(), total + 1) << "attached a second time";
    jobject t = current_thread(first);
    EXPECT_TRUE(is_daemon(first, t));
    java_thread = first->NewGlobalRef(t);
    first->DeleteLocalRef(t);
  });
  // The thread has ended: the runtime has detached it.
  EXPECT_EQ(ezjcomTestAttachedThreads(), live);
  ASSERT_NE(java_thread, nullptr);
  EXPECT_FALSE(is_alive(main_env, java_thread));
  main_env->DeleteGlobalRef(java_thread);
}

TEST(Threads, ThreadAttachedBySomeoneElseIsNeitherAttachedNorDetachedByTheRuntime) {
  JavaVM* vm = jtz::test::vm();
  const long total = ezjcomTestAttachedThreadsTotal();
  on_native_thread([&] {
    JNIEnv* mine = nullptr;
    ASSERT_EQ(vm->AttachCurrentThread(reinterpret_cast<void**>(&mine), nullptr), JNI_OK);
    EXPECT_EQ(ezjcomGetJniEnv(), mine);
    EXPECT_EQ(ezjcomTestAttachedThreadsTotal(), total);
    jobject t = current_thread(mine);
    EXPECT_FALSE(is_daemon(mine, t)) << "the runtime changed a thread it did not attach";
    mine->DeleteLocalRef(t);
    EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
  });
  EXPECT_EQ(ezjcomTestAttachedThreadsTotal(), total);
}

TEST(Threads, ManyNativeThreadsAtOnceEachAttachOnceAndAllDetach) {
  constexpr int kThreads = 8;
  const long live = ezjcomTestAttachedThreads();
  const long total = ezjcomTestAttachedThreadsTotal();
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      JNIEnv* env = ezjcomGetJniEnv();
      bool ok = env != nullptr;
      for (int n = 0; ok && n < 50; ++n) {
        ok = ezjcomGetJniEnv() == env;
        jstring s = env->NewStringUTF("x");
        BSTR b = ezjcomJstringToBstr(env, s);
        ok = ok && SysStringLen(b) == 1 && b[0] == u'x';
        SysFreeString(b);
        env->DeleteLocalRef(s);
        ok = ok && ezjcomGetComId() != nullptr;
      }
      if (ok) ++good;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good.load(), kThreads);
  EXPECT_EQ(ezjcomTestAttachedThreadsTotal(), total + kThreads);
  EXPECT_EQ(ezjcomTestAttachedThreads(), live);
}

}  // namespace
