// Interlocked counters, locale and per-thread COM initialisation.
#include <posixcom/com.h>

JTZCOM_API LONG InterlockedIncrement(LONG volatile* addend) {
  return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

JTZCOM_API LONG InterlockedDecrement(LONG volatile* addend) {
  return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

// United States English: the locale whose number and boolean texts the
// conversions use.
JTZCOM_API LCID GetUserDefaultLCID() { return 0x0409; }

namespace {

// Initialisation count and model of the calling thread. There are no
// apartments here: every object may be called from any thread, so the model
// is only checked for consistency, as Windows does.
struct ThreadInit {
  unsigned count = 0;
  DWORD model = 0;
};
thread_local ThreadInit thread_init;

}  // namespace

JTZCOM_API HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (thread_init.count > 0 && thread_init.model != model) return RPC_E_CHANGED_MODE;
  thread_init.model = model;
  return thread_init.count++ == 0 ? S_OK : S_FALSE;
}

JTZCOM_API void CoUninitialize() {
  if (thread_init.count > 0) --thread_init.count;
}
