// Interlocked counters, locale and per-thread COM initialisation.
#include <posixcom/com.h>

#include <atomic>
#include <new>
#include <utility>
#include <vector>

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

// The spies registered on the calling thread, each with its cookie and the
// reference taken at registration; a revoked entry is null.
class ThreadSpies {
 public:
  ThreadSpies() = default;
  ThreadSpies(const ThreadSpies&) = delete;
  ThreadSpies& operator=(const ThreadSpies&) = delete;
  ~ThreadSpies() {
    for (auto& entry : list_)
      if (entry.second) entry.second->Release();
  }
  HRESULT add(IInitializeSpy* spy, ULARGE_INTEGER* cookie) try {
    list_.emplace_back(++last_, spy);
    cookie->QuadPart = last_;
    return S_OK;
  } catch (const std::bad_alloc&) {
    spy->Release();
    return E_OUTOFMEMORY;
  }
  HRESULT revoke(ULONGLONG cookie) {
    for (auto& entry : list_) {
      if (entry.first == cookie && entry.second) {
        std::exchange(entry.second, nullptr)->Release();
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }
  // Calls fn(spy) for each spy, newest first; a spy may register or revoke meanwhile.
  template <class Fn>
  void each(Fn fn) {
    for (size_t i = list_.size(); i-- > 0;) {
      if (i >= list_.size()) continue;
      if (IInitializeSpy* spy = list_[i].second) {
        spy->AddRef();
        fn(spy);
        spy->Release();
      }
    }
  }
  bool empty() const { return list_.empty(); }

 private:
  std::vector<std::pair<ULONGLONG, IInitializeSpy*>> list_;
  ULONGLONG last_ = 0;
};
thread_local ThreadSpies thread_spies;

HRESULT initialize(DWORD dwCoInit) {
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (thread_init.count > 0 && thread_init.model != model) return RPC_E_CHANGED_MODE;
  thread_init.model = model;
  if (thread_init.count++ > 0) return S_FALSE;
  if (model == COINIT_MULTITHREADED) threads_in_mta.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

}  // namespace

JTZCOM_API HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  initializations.fetch_add(1, std::memory_order_relaxed);
  if (thread_spies.empty()) return initialize(dwCoInit);
  thread_spies.each([&](IInitializeSpy* spy) { spy->PreInitialize(dwCoInit, thread_init.count); });
  HRESULT hr = initialize(dwCoInit);
  thread_spies.each(
      [&](IInitializeSpy* spy) { hr = spy->PostInitialize(hr, dwCoInit, thread_init.count); });
  return hr;
}

JTZCOM_API void CoUninitialize() {
  if (thread_init.count == 0) return;
  if (!thread_spies.empty())
    thread_spies.each([](IInitializeSpy* spy) { spy->PreUninitialize(thread_init.count); });
  if (--thread_init.count == 0 && thread_init.model == COINIT_MULTITHREADED)
    threads_in_mta.fetch_sub(1, std::memory_order_relaxed);
  if (!thread_spies.empty())
    thread_spies.each([](IInitializeSpy* spy) { spy->PostUninitialize(thread_init.count); });
}

JTZCOM_API HRESULT CoRegisterInitializeSpy(IInitializeSpy* pSpy, ULARGE_INTEGER* puliCookie) {
  if (!pSpy || !puliCookie) return E_INVALIDARG;
  IInitializeSpy* spy = nullptr;
  const HRESULT hr = pSpy->QueryInterface(IID_IInitializeSpy, reinterpret_cast<void**>(&spy));
  if (FAILED(hr)) return hr;
  return thread_spies.add(spy, puliCookie);
}

JTZCOM_API HRESULT CoRevokeInitializeSpy(ULARGE_INTEGER uliCookie) {
  return thread_spies.revoke(uliCookie.QuadPart);
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
