// Windows: the JVM's symbols through jvm.dll, and the detach of the threads
// this library attached from its own DllMain at DLL_THREAD_DETACH.
#if defined(_WIN32)

#include <windows.h>

#include <initializer_list>

#include "jvm.h"

namespace ezjcom {
namespace {

// The VM the thread was attached to by this library, per thread. A TLS slot
// rather than thread_local: it is read inside DllMain.
DWORD g_attached_slot = TLS_OUT_OF_INDEXES;

}  // namespace

// The JVM's library when it is loaded; otherwise the program itself, which
// exports the function when it embeds a VM of its own (the Windows test host).
GetCreatedJavaVMs find_get_created_vms() {
  for (HMODULE module : {GetModuleHandleA("jvm.dll"), GetModuleHandleA(nullptr)}) {
    if (!module) continue;
    if (FARPROC f = GetProcAddress(module, "JNI_GetCreatedJavaVMs"))
      return reinterpret_cast<GetCreatedJavaVMs>(reinterpret_cast<void*>(f));
  }
  return nullptr;
}

void detach_at_thread_exit(JavaVM* vm) {
  if (g_attached_slot != TLS_OUT_OF_INDEXES) TlsSetValue(g_attached_slot, vm);
}

}  // namespace ezjcom

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  using namespace ezjcom;
  switch (reason) {
    case DLL_PROCESS_ATTACH: g_attached_slot = TlsAlloc(); break;
    case DLL_THREAD_DETACH:
      if (g_attached_slot != TLS_OUT_OF_INDEXES) {
        if (auto* vm = static_cast<JavaVM*>(TlsGetValue(g_attached_slot))) {
          TlsSetValue(g_attached_slot, nullptr);
          vm->DetachCurrentThread();
          g_attached_live.fetch_sub(1, std::memory_order_relaxed);
        }
      }
      break;
    case DLL_PROCESS_DETACH:
      if (g_attached_slot != TLS_OUT_OF_INDEXES) TlsFree(g_attached_slot);
      break;
    default: break;
  }
  return TRUE;
}

#endif  // _WIN32
