// Interlocked counters, locale and per-thread COM initialisation.
#include <posixcom/com.h>

#include <atomic>

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
// is only checked for consistency, as Windows does, and counted: while some
// thread is in the multithreaded apartment, a thread not initialised is in
// it implicitly.
struct ThreadInit {
  unsigned count = 0;
  DWORD model = 0;
};
thread_local ThreadInit thread_init;
std::atomic<long> threads_in_mta{0};
std::atomic<long> initializations{0};

}  // namespace

JTZCOM_API HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  initializations.fetch_add(1, std::memory_order_relaxed);
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (thread_init.count > 0 && thread_init.model != model) return RPC_E_CHANGED_MODE;
  thread_init.model = model;
  if (thread_init.count++ > 0) return S_FALSE;
  if (model == COINIT_MULTITHREADED) threads_in_mta.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

JTZCOM_API void CoUninitialize() {
  if (thread_init.count == 0) return;
  if (--thread_init.count == 0 && thread_init.model == COINIT_MULTITHREADED)
    threads_in_mta.fetch_sub(1, std::memory_order_relaxed);
}

JTZCOM_API HRESULT CoGetApartmentType(APTTYPE* pAptType, APTTYPEQUALIFIER* pAptQualifier) {
  if (!pAptType || !pAptQualifier) return E_INVALIDARG;
  *pAptQualifier = APTTYPEQUALIFIER_NONE;
  if (thread_init.count > 0) {
    *pAptType = thread_init.model == COINIT_MULTITHREADED ? APTTYPE_MTA : APTTYPE_STA;
    return S_OK;
  }
  if (threads_in_mta.load(std::memory_order_relaxed) > 0) {
    *pAptType = APTTYPE_MTA;
    *pAptQualifier = APTTYPEQUALIFIER_IMPLICIT_MTA;
    return S_OK;
  }
  *pAptType = APTTYPE_CURRENT;
  return CO_E_NOTINITIALIZED;
}

JTZCOM_API long jtzcom_initializations() { return initializations.load(std::memory_order_relaxed); }
