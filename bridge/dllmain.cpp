// Library entry: initialises the runtime and hands it the interface map at
// process attach, and registers each thread created later at its thread attach.
#include <windows.h>

#include "guids.h"
#include "runtime.h"

namespace {

// The one interface whose wrapper class the runtime must know.
const EzjcomIidMapEntry kInterfaceMap[] = {
    {&jtz::kIidIScanMontura, "puente/IScanMontura"},
};
constexpr int kInterfaceMapCount = sizeof kInterfaceMap / sizeof kInterfaceMap[0];

}  // namespace

// The results of the runtime calls are not examined: the library never refuses
// a load. On POSIX hosts the platform layer delivers only process attach and
// detach (there is no notification of thread creation); threads then reach the
// runtime through the ezjcomInitThread calls at the start of the natives.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      ezjcomInitDLL18(1);
      ezjcomIidMapTypes(kInterfaceMap, kInterfaceMapCount);
      break;
    case DLL_THREAD_ATTACH:
      ezjcomInitThread(nullptr);  // no JNI environment is known here
      break;
    default:  // thread and process detach: nothing to do
      break;
  }
  return TRUE;
}
