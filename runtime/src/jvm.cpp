#include "jvm.h"

#include "thread_state.h"

namespace ezjcom {

std::atomic<long> g_attached_live{0};
std::atomic<long> g_attached_total{0};

namespace {

std::atomic<JavaVM*> g_vm{nullptr};

}  // namespace

void remember_vm(JNIEnv* env) {
  if (!env || g_vm.load(std::memory_order_acquire)) return;
  JavaVM* vm = nullptr;
  if (env->GetJavaVM(&vm) == JNI_OK && vm) {
    JavaVM* none = nullptr;
    g_vm.compare_exchange_strong(none, vm, std::memory_order_acq_rel);
  }
}

JavaVM* java_vm() {
  if (JavaVM* vm = g_vm.load(std::memory_order_acquire)) return vm;
  GetCreatedJavaVMs created = find_get_created_vms();
  if (!created) return nullptr;
  JavaVM* vm = nullptr;
  jsize count = 0;
  if (created(&vm, 1, &count) != JNI_OK || count < 1 || !vm) return nullptr;
  JavaVM* none = nullptr;
  if (!g_vm.compare_exchange_strong(none, vm, std::memory_order_acq_rel)) return none;
  return vm;
}

JNIEnv* thread_env() {
  JavaVM* vm = java_vm();
  if (!vm) {
    set_fatal();
    return nullptr;
  }
  JNIEnv* env = nullptr;
  const jint got = vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8);
  if (got == JNI_OK) return env;
  if (got != JNI_EDETACHED) {
    set_fatal();
    return nullptr;
  }
  char name[48];
  attached_thread_name(name, sizeof name);
  JavaVMAttachArgs args{};
  args.version = JNI_VERSION_1_8;
  args.name = name;
  args.group = nullptr;
  if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &args) != JNI_OK || !env) {
    set_fatal();
    return nullptr;
  }
  g_attached_total.fetch_add(1, std::memory_order_relaxed);
  g_attached_live.fetch_add(1, std::memory_order_relaxed);
  detach_at_thread_exit(vm);
  return env;
}

}  // namespace ezjcom
