#include "test_classes.h"

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace rtest {
namespace {

std::mutex g_lock;
std::map<std::string, jclass> g_classes;

jobject system_loader(JNIEnv* env) {
  jclass loader = env->FindClass("java/lang/ClassLoader");
  jmethodID get =
      env->GetStaticMethodID(loader, "getSystemClassLoader", "()Ljava/lang/ClassLoader;");
  jobject l = env->CallStaticObjectMethod(loader, get);
  if (env->ExceptionCheck()) l = nullptr;
  env->DeleteLocalRef(loader);
  return l;
}

}  // namespace

jclass test_class(JNIEnv* env, const char* slashName) {
  std::lock_guard<std::mutex> guard(g_lock);
  auto it = g_classes.find(slashName);
  if (it != g_classes.end()) return it->second;
  const std::string path = std::string(RTEST_CLASSES) + "/" + slashName + ".class";
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    jclass error = env->FindClass("java/lang/NoClassDefFoundError");
    env->ThrowNew(error, path.c_str());
    env->DeleteLocalRef(error);
    return nullptr;
  }
  jobject loader = system_loader(env);
  jclass local = env->DefineClass(slashName, loader, reinterpret_cast<const jbyte*>(bytes.data()),
                                  static_cast<jsize>(bytes.size()));
  env->DeleteLocalRef(loader);
  if (!local) return nullptr;
  auto global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  g_classes[slashName] = global;
  return global;
}

jobject new_object(JNIEnv* env, const char* slashName) {
  jclass cls = env->FindClass(slashName);
  if (!cls) return nullptr;
  jmethodID init = env->GetMethodID(cls, "<init>", "()V");
  jobject obj = env->NewObject(cls, init);
  env->DeleteLocalRef(cls);
  return obj;
}

jint int_field(JNIEnv* env, jobject obj, const char* name) {
  jclass cls = env->GetObjectClass(obj);
  jfieldID f = env->GetFieldID(cls, name, "I");
  env->DeleteLocalRef(cls);
  return env->GetIntField(obj, f);
}

void set_int_field(JNIEnv* env, jobject obj, const char* name, jint value) {
  jclass cls = env->GetObjectClass(obj);
  jfieldID f = env->GetFieldID(cls, name, "I");
  env->DeleteLocalRef(cls);
  env->SetIntField(obj, f, value);
}

}  // namespace rtest
