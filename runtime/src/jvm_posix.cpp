// POSIX: the JVM's symbols through the dynamic linker, and the detach of the
// threads this library attached through a thread-specific key's destructor.
#if !defined(_WIN32)

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>

#include <cstring>

#include "jvm.h"

namespace ezjcom {
namespace {

pthread_key_t g_attached_key;
pthread_once_t g_key_once = PTHREAD_ONCE_INIT;

// Runs when a thread whose key holds a VM ends (the JVM supports detaching
// from such a destructor).
void detach_thread(void* value) {
  auto* vm = static_cast<JavaVM*>(value);
  vm->DetachCurrentThread();
  g_attached_live.fetch_sub(1, std::memory_order_relaxed);
}

void make_key() { pthread_key_create(&g_attached_key, detach_thread); }

// Finds the loaded libjvm by name when its symbols are not global (a host
// program that opened it with RTLD_LOCAL).
int find_libjvm(dl_phdr_info* info, size_t, void* out) {
  const char* name = info->dlpi_name;
  if (!name) return 0;
  const char* base = std::strrchr(name, '/');
  base = base ? base + 1 : name;
  if (std::strcmp(base, "libjvm.so") != 0) return 0;
  *static_cast<const char**>(out) = name;
  return 1;
}

}  // namespace

GetCreatedJavaVMs find_get_created_vms() {
  void* sym = dlsym(RTLD_DEFAULT, "JNI_GetCreatedJavaVMs");
  if (!sym) {
    const char* path = nullptr;
    dl_iterate_phdr(find_libjvm, &path);
    if (path) {
      // RTLD_NOLOAD: a reference to the loaded library, never a new load.
      if (void* jvm = dlopen(path, RTLD_LAZY | RTLD_NOLOAD)) {
        sym = dlsym(jvm, "JNI_GetCreatedJavaVMs");
        dlclose(jvm);
      }
    }
  }
  return reinterpret_cast<GetCreatedJavaVMs>(sym);
}

void detach_at_thread_exit(JavaVM* vm) {
  pthread_once(&g_key_once, make_key);
  pthread_setspecific(g_attached_key, vm);
}

}  // namespace ezjcom

#endif  // !_WIN32
