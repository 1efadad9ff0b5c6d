#include "apartment.h"

#include <objbase.h>
#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace ezjcom {
namespace {

using Clock = std::chrono::steady_clock;

// How long a thread that handed its call over checks for the call's end
// before it sleeps, and how long one of the runtime's MTA threads checks for
// a next call before it sleeps. Every sleep and every wake-up is a round trip
// to the kernel, and under Wine (without esync) one to the wineserver, 30 to
// 60 microseconds each: a caller that sees its call end while it spins, and a
// thread that sees its caller's next call, save both. A call to a component
// in another apartment takes 80 to 250 microseconds under Wine, so the caller
// spins long enough to see most such calls end (a spin of 50 microseconds
// saved next to nothing there); the thread as long, to cover the gap up to
// the next call of a caller that had to sleep and be woken. Both spins yield
// the processor every few steps (on a machine with two cores a spin that does
// not starves the very threads it waits for), and both stay far below
// anything a user could notice: an STA caller's messages, and the COM calls
// made to its apartment, wait at most that long before it goes back to
// dispatching them.
constexpr Clock::duration kCallerSpin = std::chrono::microseconds(300);
constexpr Clock::duration kThreadSpin = std::chrono::microseconds(300);

// One step of a spin: lets the other hardware thread of the core run, and
// every few steps the other threads of the CPU, which on a machine with few
// cores may be the very threads the spinner waits for.
inline void spin_pause(unsigned step) {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#endif
  if (step % 8 == 7) std::this_thread::yield();
}

// Checks ready() until it holds or `limit` has passed; true when it held.
template <class Ready>
bool spin_until(Ready ready, Clock::duration limit) {
  const Clock::time_point end = Clock::now() + limit;
  for (unsigned step = 0;; ++step) {
    if (ready()) return true;
    // The clock is read every few steps: reading it is dearer than a check.
    if (step % 4 == 3 && Clock::now() >= end) return ready();
    spin_pause(step);
  }
}

#if defined(_WIN32)
// The event a thread in a single-threaded apartment waits on while the
// runtime's MTA threads make its calls: made at its first such call and kept
// for the thread's life, so that a call costs no kernel object of its own.
// It resets itself when a wait ends on it, so a call whose end is caught
// spinning costs no kernel call at all. A signal left over (from a wait that
// ended otherwise) only makes the next wait look at its call once more.
//
// Waits nest: while the thread waits, a message or COM call it dispatches may
// make a call of its own, whose wait can take the signal meant for the outer
// one (or both signals at once). A nested wait therefore signals the event
// again when it ends, and the outer wait looks at its call once more.
class HandOffEvent {
 public:
  HandOffEvent() = default;
  HandOffEvent(const HandOffEvent&) = delete;
  HandOffEvent& operator=(const HandOffEvent&) = delete;
  ~HandOffEvent() {
    if (h_) CloseHandle(h_);
  }
  // Null when none could be made: the wait then does not dispatch messages.
  HANDLE get() {
    if (!h_) h_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return h_;
  }

  // Counts one wait on the event for its scope.
  class Wait {
   public:
    explicit Wait(HandOffEvent& e) : e_(e) { ++e_.waits_; }
    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;
    ~Wait() {
      if (--e_.waits_ > 0) SetEvent(e_.h_);  // an outer wait may have lost its signal to this one
    }

   private:
    HandOffEvent& e_;
  };

 private:
  HANDLE h_ = nullptr;
  int waits_ = 0;  // waits under way on this thread, nested
};
thread_local HandOffEvent t_hand_off;
#endif

// A call handed to the runtime's MTA threads by a thread in a single-threaded
// apartment, which waits for it to reach kDone.
struct Forwarded {
  enum State : int {
    kRunning,  // queued or under way; the caller spins
    kWaiting,  // the caller sleeps and must be woken
    kDone,     // made: from here on the caller owns it again
  };
  Forwarded(MtaCall c, void* x) : call(c), context(x) {}
  MtaCall call;
  void* context;
  std::exception_ptr error;  // written before kDone
  std::atomic<int> state{kRunning};
#if defined(_WIN32)
  HandOffEvent* hand_off = nullptr;  // the caller's, for a wait that dispatches messages
  HANDLE finished = nullptr;         // its event: set at kDone after kWaiting
#endif
};

// The runtime's own threads in the MTA. The first keeps the MTA alive for the
// life of the process; more start when every one is busy, so that a call
// waiting for another thread's call (a component that waits for one event's
// listener before it answers) never waits for itself. They are few (as many
// as calls from single-threaded apartments were ever under way at once) and
// end with the process.
//
// A call is handed over and its end reported without a kernel round trip when
// the other side is still spinning (kCallerSpin, kThreadSpin): a thread is
// woken through the condition variable only when it sleeps on it, and a
// caller through its event only when it announced that it sleeps (kWaiting).
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
        // No thread: calls are made where asked.
        started_.store(true, std::memory_order_release);
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
    bool wake = false;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (idle_ == 0 && !start_locked()) return false;
      queue_.push_back(&f);
      queued_.store(queue_.size(), std::memory_order_relaxed);
      --idle_;  // spoken for: a second call at once starts another thread
      // Each spinning thread takes one queued call when it stops spinning; a
      // sleeping one is woken for every call beyond those.
      wake = sleeping_ > 0 && queue_.size() > static_cast<size_t>(spinning_);
    }
    if (wake) work_cv_.notify_one();
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
      while (queue_.empty()) {
        ++sleeping_;
        work_cv_.wait(hold);
        --sleeping_;
      }
      Forwarded* f = queue_.front();
      queue_.pop_front();
      queued_.store(queue_.size(), std::memory_order_relaxed);
      hold.unlock();
      try {
        f->call(f->context);
      } catch (...) {
        f->error = std::current_exception();
      }
      hold.lock();
      ++idle_;
      ++spinning_;  // before the caller can see the end and queue its next call
      hold.unlock();
      finish(*f);
      spin_until([this] { return queued_.load(std::memory_order_relaxed) != 0; }, kThreadSpin);
      hold.lock();
      --spinning_;
    }
  }

  // Reports f's end to its caller (lock not held). A caller still spinning
  // sees kDone and goes on; f may be gone the moment after. One that sleeps
  // is woken, under the lock: it reads kDone under the lock too, so that its
  // event is no longer used here once it returns.
  void finish(Forwarded& f) {
    int running = Forwarded::kRunning;
    if (f.state.compare_exchange_strong(running, Forwarded::kDone, std::memory_order_acq_rel))
      return;
    std::lock_guard<std::mutex> hold(lock_);
    f.state.store(Forwarded::kDone, std::memory_order_release);
#if defined(_WIN32)
    if (f.finished) SetEvent(f.finished);
#endif
    done_cv_.notify_all();
  }

  // Waits for f's end: spinning for a short call, then asleep. On Windows the
  // caller's apartment stays responsive while it sleeps:
  // CoWaitForMultipleHandles runs COM's modal loop, which dispatches the COM
  // calls made to the apartment and the messages sent to its windows (posted
  // ones wait in the queue, as in any COM call the thread makes).
  void wait(Forwarded& f) {
    const auto done = [&f] { return f.state.load(std::memory_order_acquire) == Forwarded::kDone; };
    if (spin_until(done, kCallerSpin)) return;
    int running = Forwarded::kRunning;
    if (!f.state.compare_exchange_strong(running, Forwarded::kWaiting, std::memory_order_acq_rel))
      return;  // done meanwhile
#if defined(_WIN32)
    if (f.finished) {
      const HandOffEvent::Wait counted(*f.hand_off);
      for (;;) {
        DWORD index = 0;
        const HRESULT hr = CoWaitForMultipleHandles(0, INFINITE, 1, &f.finished, &index);
        std::lock_guard<std::mutex> hold(lock_);
        if (done()) return;
        if (FAILED(hr) && hr != RPC_S_CALLPENDING) break;  // wait without dispatching
      }
    }
#endif
    std::unique_lock<std::mutex> hold(lock_);
    done_cv_.wait(hold, done);
  }

  std::atomic<bool> started_{false};  // the first thread is in the MTA, or could not start
  std::atomic<bool> running_{false};  // the first thread is in the MTA
  bool first_started_ = false;        // under the lock
  std::mutex lock_;
  std::condition_variable work_cv_;    // a call was queued
  std::condition_variable done_cv_;    // a call has run
  std::condition_variable joined_cv_;  // a thread is in the MTA
  std::deque<Forwarded*> queue_;
  std::atomic<size_t> queued_{0};  // queue_.size(), for the threads that spin
  int idle_ = 0;
  int spinning_ = 0;  // idle threads that look at the queue before they sleep
  int sleeping_ = 0;  // idle threads asleep on work_cv_
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

// Has one of the runtime's MTA threads make the call while this thread (in a
// single-threaded apartment) waits; false when no thread could take it.
bool forward(MtaThreads& threads, MtaCall call, void* context) {
  Forwarded f(call, context);
#if defined(_WIN32)
  f.hand_off = &t_hand_off;
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
