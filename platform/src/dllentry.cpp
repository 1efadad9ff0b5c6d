// DllMain for shared libraries on POSIX.
//
// Linked into a shared library that defines DllMain, this calls that
// library's own DllMain with DLL_PROCESS_ATTACH when the library is loaded
// and with DLL_PROCESS_DETACH when it is unloaded (or the process ends),
// passing the library's base address as its HINSTANCE, as Windows does.
//
// POSIX has no notification of thread creation or thread exit, so
// DLL_THREAD_ATTACH and DLL_THREAD_DETACH are not emulated; the Windows build
// receives them from the system loader.
//
// Order: the attach call is an ELF constructor of this object, which CMake
// links after the library's own objects, so the library's static objects are
// constructed before DllMain sees DLL_PROCESS_ATTACH (Windows' C runtime does
// the same), and DLL_PROCESS_DETACH arrives before they are destroyed.
#include <posixcom/com.h>

#if defined(_WIN32)
#error "jtz_dllentry is for POSIX; Windows calls DllMain itself"
#endif

#include <dlfcn.h>

// Hidden, so that the call binds to the DllMain of the library this object is
// linked into, even if some other loaded library exports one of its own.
extern "C" __attribute__((visibility("hidden"))) BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

HINSTANCE module_base() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&module_base), &info)) return nullptr;
  return info.dli_fbase;
}

__attribute__((constructor)) void process_attach() {
  DllMain(module_base(), DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void process_detach() {
  DllMain(module_base(), DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
