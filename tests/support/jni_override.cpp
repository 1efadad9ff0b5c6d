#include "jni_override.h"

namespace jtz::test {
namespace {

const JNINativeInterface_* g_original = nullptr;

}  // namespace

JniOverride::JniOverride(JNIEnv* env) : env_(env), saved_(env->functions), copy_(*env->functions) {
  g_original = saved_;
  env_->functions = &copy_;
}

JniOverride::~JniOverride() { env_->functions = saved_; }

const JNINativeInterface_& JniOverride::original() { return *g_original; }

void JniOverride::out_of_memory(JNIEnv* env) {
  jclass oom = g_original->FindClass(env, "java/lang/OutOfMemoryError");
  if (oom) g_original->ThrowNew(env, oom, "forced by the test");
  g_original->DeleteLocalRef(env, oom);
}

}  // namespace jtz::test
