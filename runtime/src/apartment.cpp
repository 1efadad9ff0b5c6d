#include "apartment.h"

#include <objbase.h>
#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace ezjcom {
namespace {

// A call handed to the runtime's MTA threads by a thread in a single-threaded
// apartment, which waits for `done`.
struct Forwarded {
  MtaCall call;
  void* context;
  std::exception_ptr error;
  bool done = false;  // under the pool's lock
#if defined(_WIN32)
  HANDLE finished = nullptr;  // set with done, for a wait that dispatches messages
#endif
};

// The runtime's own threads in the MTA. The first keeps the MTA alive for the
// life of the process; more start when every one is busy, so that a call
// waiting for another thread's call (a component that waits for one event's
// listener before it answers) never waits for itself. They are few (as many
// as calls from single-threaded apartments were ever under way at once) and
// end with the process.
class MtaThreads {
 public:
  // Starts the first thread once and waits until it is in the MTA.
  void ensure_started() {
    if (started_.load(std::memory_order_acquire)) return;
    std::unique_lock<std::mutex> hold(lock_);
    if (started_.load(std::memory_order_relaxed)) return;
    // The first caller starts the thread; callers meanwhile wait with it.
    if (!first_started_) {
      first_started_ = start_locked();
      if (!first_started_) {
        started_.store(true, std::memory_order_release);  // no thread: calls are made where asked
        return;
      }
    }
    joined_cv_.wait(hold, [this] { return joined_ > 0; });
    running_.store(true, std::memory_order_release);
    started_.store(true, std::memory_order_release);
  }

  // True once the first thread is in the MTA; it stays there for good.
  bool running() const { return running_.load(std::memory_order_acquire); }

  // Runs f on one of the threads; false when none could take it.
  bool run(Forwarded& f) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (idle_ == 0 && !start_locked()) return false;
      queue_.push_back(&f);
      --idle_;  // spoken for: a second call at once starts another thread
    }
    work_cv_.notify_one();
    wait(f);
    if (f.error) std::rethrow_exception(f.error);
    return true;
  }

 private:
  // A new thread, counted as idle from now on (lock held).
  bool start_locked() {
    try {
      std::thread(&MtaThreads::serve, this).detach();
    } catch (const std::system_error&) {
      return false;
    }
    ++idle_;
    return true;
  }

  void serve() {
    // For the life of the thread, which is the life of the process: this
    // initialisation is never undone.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock<std::mutex> hold(lock_);
    ++joined_;
    joined_cv_.notify_all();
    for (;;) {
      work_cv_.wait(hold, [this] { return !queue_.empty(); });
      Forwarded* f = queue_.front();
      queue_.pop_front();
      hold.unlock();
      try {
        f->call(f->context);
      } catch (...) {
        f->error = std::current_exception();
      }
      hold.lock();
      ++idle_;
      f->done = true;
#if defined(_WIN32)
      if (f->finished) SetEvent(f->finished);
#endif
      done_cv_.notify_all();
    }
  }

  // Waits for f's end. On Windows the caller's apartment stays responsive:
  // CoWaitForMultipleHandles dispatches its messages and the COM calls made
  // to it while it waits.
  void wait(Forwarded& f) {
#if defined(_WIN32)
    if (f.finished) {
      for (;;) {
        DWORD index = 0;
        const HRESULT hr = CoWaitForMultipleHandles(0, INFINITE, 1, &f.finished, &index);
        std::lock_guard<std::mutex> hold(lock_);
        if (f.done) return;
        if (FAILED(hr) && hr != RPC_S_CALLPENDING) break;  // wait without dispatching
      }
    }
#endif
    std::unique_lock<std::mutex> hold(lock_);
    done_cv_.wait(hold, [&f] { return f.done; });
  }

  std::atomic<bool> started_{false};  // the first thread is in the MTA, or could not start
  std::atomic<bool> running_{false};  // the first thread is in the MTA
  bool first_started_ = false;        // under the lock
  std::mutex lock_;
  std::condition_variable work_cv_;    // a call was queued
  std::condition_variable done_cv_;    // a call has run
  std::condition_variable joined_cv_;  // a thread is in the MTA
  std::deque<Forwarded*> queue_;
  int idle_ = 0;
  int joined_ = 0;
};

MtaThreads& mta_threads() {
  static auto* threads = new MtaThreads;  // never destroyed: its threads outlive static destructors
  return *threads;
}

// Ends a call's own initialisation, where it made one.
class Joined {
 public:
  explicit Joined(HRESULT hr) : joined_(SUCCEEDED(hr)) {}
  Joined(const Joined&) = delete;
  Joined& operator=(const Joined&) = delete;
  ~Joined() {
    if (joined_) CoUninitialize();
  }

 private:
  bool joined_;
};

#if defined(_WIN32)
// The event a thread in a single-threaded apartment waits on while the
// runtime's MTA threads make its calls: made at its first such call and kept
// for the thread's life, so that a call costs no kernel object of its own.
class HandOffEvent {
 public:
  HandOffEvent() = default;
  HandOffEvent(const HandOffEvent&) = delete;
  HandOffEvent& operator=(const HandOffEvent&) = delete;
  ~HandOffEvent() {
    if (h_) CloseHandle(h_);
  }
  // Reset for the next call (null when none could be made: the wait then
  // does not dispatch messages).
  HANDLE get() {
    if (!h_) h_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (h_) ResetEvent(h_);
    return h_;
  }

 private:
  HANDLE h_ = nullptr;
};
thread_local HandOffEvent t_hand_off;
#endif

// Has one of the runtime's MTA threads make the call while this thread (in a
// single-threaded apartment) waits; false when no thread could take it.
bool forward(MtaThreads& threads, MtaCall call, void* context) {
  Forwarded f{call, context, nullptr};
#if defined(_WIN32)
  f.finished = t_hand_off.get();
#endif
  return threads.run(f);
}

}  // namespace

namespace {

// What the runtime knows of the calling thread's apartment.
enum class Known : unsigned char { kNothing, kMta };
enum class Spied : unsigned char { kNot, kYes, kCannot };
thread_local Known t_known = Known::kNothing;
thread_local Spied t_spied = Spied::kNot;

// Forgets what the runtime knows of a thread's apartment whenever COM is
// initialised or uninitialised on it. One object for every thread, never
// freed: COM calls it on the thread concerned.
class ApartmentSpy final : public IInitializeSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IInitializeSpy)) {
      *out = static_cast<IInitializeSpy*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return forget(S_OK); }
  HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hr, DWORD, DWORD) override {
    return forget(hr);  // what CoInitializeEx answers
  }
  HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override { return forget(S_OK); }
  HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return forget(S_OK); }

 private:
  static HRESULT forget(HRESULT hr) {
    t_known = Known::kNothing;
    return hr;
  }
};

ApartmentSpy g_spy;

// COM keeps a thread's spy until the thread ends, and the runtime's MTA
// threads run its code for good: the library stays loaded for the life of the
// process (decided once; false when it cannot be kept, and no spy is then
// registered).
bool keep_loaded() {
  static const bool kept = [] {
#if defined(_WIN32)
    HMODULE self = nullptr;
    return GetModuleHandleExW(
               GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
               reinterpret_cast<LPCWSTR>(&g_spy), &self) != 0;
#else
    Dl_info info{};
    if (!dladdr(static_cast<void*>(&g_spy), &info) || !info.dli_fname) return false;
    return dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
#endif
  }();
  return kept;
}

bool ask_com() {
  mta_threads().ensure_started();
  if (t_spied == Spied::kNot) {
    ULARGE_INTEGER cookie{};
    t_spied = keep_loaded() && SUCCEEDED(CoRegisterInitializeSpy(&g_spy, &cookie)) ? Spied::kYes
                                                                                   : Spied::kCannot;
  }
  // The runtime's first MTA thread keeps the MTA alive: a thread in it, or in
  // no apartment at all (which COM then counts in the MTA, implicitly), makes
  // the call as it is, with no initialisation of its own.
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  const bool mta = SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
  // Kept only where a change would be told: the spy watches this thread, and
  // the runtime's thread keeps the MTA for good.
  if (mta && t_spied == Spied::kYes && mta_threads().running()) t_known = Known::kMta;
  return mta;
}

}  // namespace

bool mta_here() { return t_known == Known::kMta || ask_com(); }

void run_in_mta(MtaCall call, void* context) {
  MtaThreads& threads = mta_threads();
  if (mta_here()) {
    call(context);
    return;
  }
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  const HRESULT apartment = CoGetApartmentType(&type, &qualifier);
  if (SUCCEEDED(apartment) && (type == APTTYPE_STA || type == APTTYPE_MAINSTA)) {
    if (forward(threads, call, context)) return;
    call(context);  // no thread to make it: made here, COM answers as for the wrong apartment
    return;
  }
  // No MTA after all (its thread could not start), or another apartment:
  // the thread joins the MTA for the call alone.
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (hr == RPC_E_CHANGED_MODE && forward(threads, call, context)) return;
  const Joined joined(hr);
  call(context);
}

}  // namespace ezjcom
