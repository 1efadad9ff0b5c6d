// The apartment of the runtime's COM calls: whatever apartment the calling
// thread is in (none, the multithreaded one, or a single-threaded one that
// someone else set up, as on a GUI thread), the object is called in the
// multithreaded apartment, the calls give their results, and the thread is
// left as it was found: the runtime undoes exactly the initialisation it made.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes.h"
#include "runtime_api.h"

namespace {

enum class Apartment { kNone, kMta, kSta };

const char* name(Apartment a) {
  switch (a) {
    case Apartment::kNone: return "no apartment";
    case Apartment::kMta: return "the multithreaded apartment";
    case Apartment::kSta: return "a single-threaded apartment";
  }
  return "?";
}

// Whether the calling thread is in a single-threaded apartment, found out as
// a component could, without changing anything.
bool in_sta() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (hr == RPC_E_CHANGED_MODE) return true;
  if (SUCCEEDED(hr)) CoUninitialize();
  return false;
}

// Checks that the calling thread still holds exactly the initialisation it
// started with, and ends it: "" when so, else what differs.
std::string end_as_started(Apartment start) {
  if (start == Apartment::kNone) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr == S_OK ? "" : "the thread was left initialised";
  }
  const DWORD same = start == Apartment::kSta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
  const DWORD other = start == Apartment::kSta ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED;
  const HRESULT still = CoInitializeEx(nullptr, same);
  if (SUCCEEDED(still)) CoUninitialize();
  if (still != S_FALSE) return "the thread's own initialisation was undone";
  CoUninitialize();  // the thread's own
  const HRESULT empty = CoInitializeEx(nullptr, other);
  if (SUCCEEDED(empty)) CoUninitialize();
  return empty == S_OK ? "" : "the thread was left with an initialisation of the runtime's";
}

// A dispatch object that notes, for each of its calls, whether the thread it
// came on was in a single-threaded apartment, and which thread that was.
struct ApartmentProbe : rtest::FakeDispatch {
  std::mutex lock;
  std::vector<std::thread::id> threads;
  int in_sta_calls = 0;
  // Set: Invoke waits (up to 10 s) until `release_invoke` is set by another call.
  std::condition_variable cv;
  bool hold_invoke = false;
  bool invoke_started = false;
  bool release_invoke = false;

  void note() {
    const bool sta = in_sta();
    std::lock_guard<std::mutex> hold(lock);
    threads.push_back(std::this_thread::get_id());
    if (sta) ++in_sta_calls;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    note();
    return FakeDispatch::QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    note();
    return FakeDispatch::Release();
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD f, DISPPARAMS* p,
                                   VARIANT* r, EXCEPINFO* e, UINT* a) override {
    note();
    std::unique_lock<std::mutex> hold(lock);
    invoke_started = true;
    cv.notify_all();
    if (hold_invoke && !cv.wait_for(hold, std::chrono::seconds(10), [&] { return release_invoke; }))
      return E_ABORT;
    hold.unlock();
    return FakeDispatch::Invoke(id, iid, locale, f, p, r, e, a);
  }
};

// The runtime's calls on one object, as the bridge makes them.
struct Outcome {
  HRESULT query = E_FAIL;
  HRESULT invoke = E_FAIL;
  VARIANT result{};
  SCODE scode = 0;
};

Outcome use(ApartmentProbe* probe) {
  Outcome o;
  void* out = nullptr;
  o.query = ezjcomQueryInterface(nullptr, rtest::Bound(probe).value(), IID_IDispatch, &out);
  rtest::Bound(static_cast<IUnknown*>(out), rtest::kAdopt);  // given back as a wrapper's close does
  probe->answer = DISP_E_EXCEPTION;
  DISPPARAMS none{};
  EXCEPINFO ei{};
  UINT arg_err = 0;
  VariantInit(&o.result);
  o.invoke =
      ezjcomInvokeHelper(nullptr, probe, 5, &none, DISPATCH_PROPERTYGET, &ei, &arg_err, &o.result);
  o.scode = ei.scode;
  return o;
}

TEST(Apartments, CallsAreMadeInTheMultithreadedApartmentAndLeaveTheThreadAsItWas) {
  for (Apartment start : {Apartment::kNone, Apartment::kMta, Apartment::kSta}) {
    SCOPED_TRACE(name(start));
    auto* probe = rtest::make<ApartmentProbe>();
    Outcome o;
    std::string left;
    std::thread::id caller;
    std::thread([&] {
      caller = std::this_thread::get_id();
      if (start == Apartment::kMta) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      if (start == Apartment::kSta) CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      o = use(probe);
      left = end_as_started(start);
    }).join();

    EXPECT_EQ(left, "");
    EXPECT_EQ(o.query, S_OK);
    EXPECT_EQ(o.invoke, DISP_E_EXCEPTION);
    EXPECT_EQ(o.scode, E_INVALIDARG) << "the exception information reaches the caller";
    EXPECT_EQ(o.result.vt, VT_I4);
    EXPECT_EQ(o.result.lVal, 7);
    EXPECT_EQ(probe->refs.load(), 1) << "the query's reference was given back";
    EXPECT_EQ(probe->in_sta_calls, 0) << "the object was called on a thread in an STA";
    // Threads in no apartment or in the MTA make their own calls; a thread in
    // an STA has them made by the runtime's MTA threads.
    for (std::thread::id t : probe->threads) {
      if (start == Apartment::kSta)
        EXPECT_NE(t, caller);
      else
        EXPECT_EQ(t, caller);
    }
    // QueryInterface, Release of its answer and of the test's binding, Invoke.
    EXPECT_EQ(probe->threads.size(), 4u);
    rtest::destroy(probe);
  }
}

// What the runtime knows of a thread's apartment follows the thread: after
// each change between two calls (in either direction, with calls made in
// between so that an answer is known), the next call is made where the new
// apartment says, and the thread's own initialisation answers as it would.
TEST(Apartments, AThreadThatChangesApartmentBetweenCallsIsServedByItsNewOne) {
  auto* probe = rtest::make<ApartmentProbe>();
  std::vector<std::string> faults;
  std::thread([&] {
    const auto caller = std::this_thread::get_id();
    // Calls made from here, and whether each was made on this thread.
    auto calls_made_here = [&](const char* when) {
      size_t before;
      {
        std::lock_guard<std::mutex> hold(probe->lock);
        before = probe->threads.size();
      }
      DISPPARAMS none{};
      for (int i = 0; i < 3; ++i)
        ezjcomInvokeHelper(nullptr, probe, 1, &none, DISPATCH_METHOD, nullptr, nullptr, nullptr);
      std::lock_guard<std::mutex> hold(probe->lock);
      int here = 0;
      for (size_t i = before; i < probe->threads.size(); ++i) here += probe->threads[i] == caller;
      if (here != 0 && here != 3)
        faults.push_back(std::string(when) + ": calls made in two places");
      return here == 3;
    };
    if (!calls_made_here("in no apartment")) faults.push_back("in no apartment: not made here");
    if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK)
      faults.push_back("joining an STA did not answer S_OK");
    if (calls_made_here("in an STA")) faults.push_back("in an STA: made here");
    if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_FALSE)
      faults.push_back("joining the STA again did not answer S_FALSE");
    CoUninitialize();
    if (calls_made_here("in the STA, joined twice and left once"))
      faults.push_back("in the STA, joined twice and left once: made here");
    CoUninitialize();
    if (!calls_made_here("out of the STA")) faults.push_back("out of the STA: not made here");
    if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK)
      faults.push_back("joining the MTA did not answer S_OK");
    if (!calls_made_here("in the MTA")) faults.push_back("in the MTA: not made here");
    CoUninitialize();
    if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK)
      faults.push_back("joining an STA after the MTA did not answer S_OK");
    if (calls_made_here("in an STA after the MTA"))
      faults.push_back("in an STA after the MTA: made here");
    CoUninitialize();
  }).join();
  EXPECT_EQ(faults, std::vector<std::string>{});
  EXPECT_EQ(probe->in_sta_calls, 0) << "the object was called on a thread in an STA";
  rtest::destroy(probe);
}

// The runtime's own thread keeps the MTA alive: a thread in no apartment (in
// it implicitly) or in the MTA makes its calls with no initialisation of COM.
TEST(Apartments, CallsFromTheMultithreadedApartmentInitialiseNothing) {
  auto* d = rtest::make<rtest::FakeDispatch>();
  for (Apartment start : {Apartment::kNone, Apartment::kMta}) {
    SCOPED_TRACE(name(start));
    long made = -1;
    std::thread([&] {
      if (start == Apartment::kMta) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      DISPPARAMS none{};
      ezjcomInvokeHelper(nullptr, d, 1, &none, DISPATCH_METHOD, nullptr, nullptr, nullptr);
      const long before = jtzcom_initializations();
      void* out = nullptr;
      for (int i = 0; i < 100; ++i) {
        ezjcomInvokeHelper(nullptr, d, 1, &none, DISPATCH_METHOD, nullptr, nullptr, nullptr);
        ezjcomQueryInterface(nullptr, rtest::Bound(d).value(), IID_IDispatch, &out);
        rtest::Bound(static_cast<IUnknown*>(out), rtest::kAdopt);
      }
      made = jtzcom_initializations() - before;
      if (start == Apartment::kMta) CoUninitialize();
    }).join();
    EXPECT_EQ(made, 0);
  }
  EXPECT_EQ(d->invokes, 202);
  EXPECT_EQ(d->refs.load(), 1);
  rtest::destroy(d);
}

TEST(Apartments, CallsFromSeveralSingleThreadedApartmentsAtOnceDoNotWaitForEachOther) {
  // The first call waits inside the object until the second has reached it:
  // the runtime must have a second MTA thread for it.
  auto* probe = rtest::make<ApartmentProbe>();
  probe->hold_invoke = true;
  HRESULT first = E_FAIL, second = E_FAIL;
  std::thread a([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    DISPPARAMS none{};
    first =
        ezjcomInvokeHelper(nullptr, probe, 1, &none, DISPATCH_METHOD, nullptr, nullptr, nullptr);
    CoUninitialize();
  });
  {
    std::unique_lock<std::mutex> hold(probe->lock);
    probe->cv.wait(hold, [&] { return probe->invoke_started; });
  }
  std::thread b([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    void* out = nullptr;
    second = ezjcomQueryInterface(nullptr, rtest::Bound(probe).value(), IID_IUnknown, &out);
    rtest::Bound(static_cast<IUnknown*>(out), rtest::kAdopt);
    {
      std::lock_guard<std::mutex> hold(probe->lock);
      probe->release_invoke = true;
    }
    probe->cv.notify_all();
    CoUninitialize();
  });
  b.join();
  a.join();
  EXPECT_EQ(second, S_OK);
  EXPECT_EQ(first, S_OK) << "the second call waited for the first (E_ABORT: 10 s passed)";
  EXPECT_EQ(probe->in_sta_calls, 0);
  EXPECT_EQ(probe->refs.load(), 1);
  rtest::destroy(probe);
}

// A dispatch object for many callers at once: it counts its calls and those
// that came on a thread in an STA, answers each with its own DISPID, and
// makes the calls with DISPID kSlow last long enough that their callers have
// stopped checking for the end and sleep.
struct SharedProbe : rtest::FakeDispatch {
  static constexpr DISPID kSlow = 99;
  std::atomic<int> calls{0};
  std::atomic<int> in_sta_calls{0};

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* r,
                                   EXCEPINFO*, UINT*) override {
    if (in_sta()) ++in_sta_calls;
    ++calls;
    if (id == kSlow) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (r) {
      r->vt = VT_I4;
      r->lVal = id;
    }
    return S_OK;
  }
};

TEST(Apartments, ManySingleThreadedApartmentsCallAtOnceShortAndSlowCallsAlike) {
  // Each thread's calls follow each other with no gap (the runtime's thread
  // is still looking for work), a short one, or one long enough for it to
  // sleep; every 25th is slow, so that its caller sleeps until it ends.
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  auto* probe = rtest::make<SharedProbe>();
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      for (int i = 0; i < kCalls; ++i) {
        const DISPID id = (i + t) % 25 == 0 ? SharedProbe::kSlow : 1000 * (t + 1) + i;
        DISPPARAMS none{};
        VARIANT r;
        VariantInit(&r);
        const HRESULT hr = ezjcomInvokeHelper(nullptr, probe, id, &none, DISPATCH_PROPERTYGET,
                                              nullptr, nullptr, &r);
        if (hr != S_OK || r.vt != VT_I4 || r.lVal != id) ++wrong;
        switch ((i * 7 + t) % 4) {
          case 0: break;
          case 1: std::this_thread::yield(); break;
          case 2: std::this_thread::sleep_for(std::chrono::microseconds(50)); break;
          default: std::this_thread::sleep_for(std::chrono::milliseconds(1)); break;
        }
      }
      CoUninitialize();
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0) << "calls that failed or gave another call's result";
  EXPECT_EQ(probe->calls.load(), kThreads * kCalls);
  EXPECT_EQ(probe->in_sta_calls.load(), 0);
  EXPECT_EQ(probe->refs.load(), 1);
  rtest::destroy(probe);
}

}  // namespace
