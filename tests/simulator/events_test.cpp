// Events: the connection point, delivery on the component's threads,
// OnKeyPress by reference, bursts and shutdown with events pending.
#include "scanmontura_interface.h"
#include "sim_test_support.h"

#include <atomic>
#include <condition_variable>
#include <string>
#include <thread>
#include <vector>

using namespace simtest;

namespace {

constexpr DWORD kWait = 60000;

class Latch {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool open_ = false;
};

// An object that is no IDispatch: the connection point must refuse it.
struct PlainUnknown : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST(ConnectionPoint, FoundOnlyForTheEventInterface) {
  Component c;
  IConnectionPointContainer* cpc = nullptr;
  ASSERT_EQ(c.disp()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)),
            S_OK);
  IConnectionPoint* cp = reinterpret_cast<IConnectionPoint*>(1);
  EXPECT_EQ(cpc->FindConnectionPoint(IID_IDispatch, &cp), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp, nullptr);
  ASSERT_EQ(cpc->FindConnectionPoint(kIidEvents, &cp), S_OK);

  IID iid{};
  EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, kIidEvents));
  IConnectionPointContainer* back = nullptr;
  ASSERT_EQ(cp->GetConnectionPointContainer(&back), S_OK);
  IUnknown *a = nullptr, *b = nullptr;
  back->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
  c.disp()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
  EXPECT_EQ(a, b);
  IUnknown* pointUnk = nullptr;
  ASSERT_EQ(cp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pointUnk)), S_OK);
  EXPECT_EQ(static_cast<void*>(pointUnk), static_cast<void*>(cp))
      << "the point has its own identity";

  IEnumConnections* ec = nullptr;
  IEnumConnectionPoints* ecp = nullptr;
  EXPECT_EQ(cp->EnumConnections(&ec), E_NOTIMPL);
  EXPECT_EQ(cpc->EnumConnectionPoints(&ecp), E_NOTIMPL);

  for (IUnknown* u : {static_cast<IUnknown*>(cp), static_cast<IUnknown*>(cpc),
                      static_cast<IUnknown*>(back), a, b, pointUnk})
    u->Release();
}

TEST(ConnectionPoint, CookiesCountUpAndAreNeverReused) {
  CountingSink s1, s2, s3;
  Component c;
  Advised first(c.disp(), &s1);
  IConnectionPoint* cp = first.point();
  EXPECT_EQ(first.cookie(), 1u);
  EXPECT_EQ(s1.Refs(), 1) << "the point keeps one reference";

  DWORD cookie2 = 0, cookie3 = 0;
  ASSERT_EQ(cp->Advise(&s2, &cookie2), S_OK);
  EXPECT_EQ(cookie2, 2u);
  ULONG count = 0;
  EXPECT_EQ(c.ctl()->ConnectionCount(&count), S_OK);
  EXPECT_EQ(count, 2u);

  EXPECT_EQ(cp->Unadvise(cookie2), S_OK);
  EXPECT_EQ(s2.Refs(), 0);
  EXPECT_EQ(cp->Unadvise(cookie2), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp->Unadvise(77), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(cp->Advise(&s3, &cookie3), S_OK);
  EXPECT_EQ(cookie3, 3u);

  PlainUnknown plain;
  DWORD none = 9;
  EXPECT_EQ(cp->Advise(&plain, &none), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(cp->Advise(nullptr, &none), E_POINTER);
  EXPECT_EQ(c.ctl()->ConnectionCount(&count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(cp->Unadvise(cookie3), S_OK);
}

TEST(Events, ClicksAreSynchronousAndOnTheEventThread) {
  CountingSink sink;
  Component c;
  Advised advised(c.disp(), &sink);
  ASSERT_EQ(c.ctl()->Click(), S_OK);
  EXPECT_EQ(sink.Count(kOnClick), 1) << "delivered before Click returned";
  ASSERT_EQ(c.ctl()->DblClick(), S_OK);
  EXPECT_EQ(sink.Count(kOnDblClick), 1);
  EXPECT_NE(sink.LastThread(), std::this_thread::get_id());
  EXPECT_FALSE(sink.BadCall()) << "IID_NULL, DISPATCH_METHOD, no result or EXCEPINFO";

  VARIANT args[2] = {I4(7), Bool(true)};
  int seenArgs = -1;
  LONG seenFirst = 0;
  sink.OnEach([&](DISPID id, DISPPARAMS* p) {
    if (id != 77) return;
    seenArgs = static_cast<int>(p->cArgs);
    seenFirst = p->rgvarg[0].lVal;
  });
  ASSERT_EQ(c.ctl()->FireEvent(77, args, 2), S_OK);
  EXPECT_EQ(seenArgs, 2);
  EXPECT_EQ(seenFirst, 7);

  ULONG delivered = 0;
  ASSERT_EQ(c.ctl()->DeliveredTo(advised.cookie(), &delivered), S_OK);
  EXPECT_EQ(delivered, 3u);
  ASSERT_EQ(advised.Unadvise(), S_OK);
  ASSERT_EQ(c.ctl()->Click(), S_OK);
  EXPECT_EQ(sink.Count(kOnClick), 1) << "no delivery after Unadvise";
  ASSERT_EQ(c.ctl()->DeliveredTo(1, &delivered), S_OK);
  EXPECT_EQ(delivered, 3u) << "the count outlives the connection";
  EXPECT_EQ(c.ctl()->DeliveredTo(2, &delivered), E_INVALIDARG);
}

TEST(Events, SinkMayCallBackIntoTheComponent) {
  CountingSink sink;
  Component c;
  Advised advised(c.disp(), &sink);
  sink.OnEach([&](DISPID id, DISPPARAMS*) {
    if (id == kOnClick) {
      EXPECT_EQ(c.ctl()->DblClick(), S_OK);  // runs in place, no waiting for itself
      EXPECT_EQ(c.PutText(DISPID_TEXT, "from the sink"), S_OK);
    }
  });
  ASSERT_EQ(c.ctl()->Click(), S_OK);
  EXPECT_EQ(sink.Count(kOnDblClick), 1);
  ASSERT_EQ(c.ctl()->WaitIdle(kWait), S_OK);
  EXPECT_EQ(sink.Count(kOnChange), 1);
  EXPECT_EQ(c.Text(), "from the sink");
}

TEST(Events, OnChangeIsQueuedToTheEventThread) {
  CountingSink sink;
  Component c;
  Advised advised(c.disp(), &sink);
  Latch release;
  sink.OnEach([&](DISPID id, DISPPARAMS*) {
    if (id == kOnChange && sink.Count(kOnChange) == 1) release.Wait();
  });
  // The first OnChange blocks in the sink, yet the member calls return.
  ASSERT_EQ(c.PutText(DISPID_TEXT, "one"), S_OK);
  ASSERT_EQ(c.PutText(DISPID_TEXT, "two"), S_OK);
  EXPECT_EQ(c.PutText(DISPID_TEXT, "two"), S_OK) << "same text: no change, no event";
  EXPECT_EQ(c.ctl()->WaitIdle(0), SIM_E_TIMEOUT);
  release.Open();
  ASSERT_EQ(c.ctl()->WaitIdle(kWait), S_OK);
  EXPECT_EQ(sink.Count(kOnChange), 2);
  EXPECT_NE(sink.LastThread(), std::this_thread::get_id());

  // Every way of changing the text announces it.
  EXPECT_EQ(c.Call(26), S_OK);       // SelectAll
  EXPECT_EQ(c.Call(21), S_OK);       // Cut: ""
  EXPECT_EQ(c.Call(22), S_OK);       // Paste: "two"
  EXPECT_EQ(c.Put(4, I4(1)), S_OK);  // CharCase upper: "TWO"
  EXPECT_EQ(c.Call(18), S_OK);       // Clear: ""
  EXPECT_EQ(c.Call(23), S_OK);       // Undo: "TWO"
  EXPECT_EQ(c.Call(18), S_OK);       // Clear: ""
  EXPECT_EQ(c.Call(18), S_OK);       // Clear again: no change
  ASSERT_EQ(c.ctl()->WaitIdle(kWait), S_OK);
  EXPECT_EQ(sink.Count(kOnChange), 8);
}

TEST(Events, TypedKeysGoThroughOnKeyPressByReference) {
  CountingSink sink;
  Component c;
  Advised advised(c.disp(), &sink);
  bool shapeOk = true;
  sink.OnEach([&](DISPID id, DISPPARAMS* p) {
    if (id != kOnKeyPress) return;
    shapeOk &= p->cArgs == 1 && p->cNamedArgs == 0 && p->rgvarg[0].vt == (VT_BYREF | VT_I2);
    SHORT& key = *p->rgvarg[0].piVal;
    if (key == 'a') key = 'x';  // replaced
    if (key == 'b') key = 0;    // swallowed
  });
  ASSERT_EQ(c.ctl()->TypeText(u"abc"), S_OK);
  EXPECT_TRUE(shapeOk);
  EXPECT_EQ(c.Text(), "xc");
  EXPECT_EQ(sink.Count(kOnKeyPress), 3);
  EXPECT_EQ(sink.Count(kOnChange), 2) << "no change for the swallowed key";
  EXPECT_EQ(sink.Order(),
            (std::vector<DISPID>{kOnKeyPress, kOnChange, kOnKeyPress, kOnKeyPress, kOnChange}));
  EXPECT_TRUE(c.GetBool(29)) << "typing modifies";
  EXPECT_EQ(c.GetI4(31), 2) << "caret after the typed text";

  ASSERT_EQ(c.ctl()->TypeText(u"\b"), S_OK);
  EXPECT_EQ(c.Text(), "x");
  EXPECT_EQ(c.Call(23), S_OK);  // Undo
  EXPECT_EQ(c.Text(), "xc");
}

TEST(Events, TwoSinksSeeTheKeyInTurn) {
  CountingSink upper, recorder;
  Component c;
  Advised a(c.disp(), &upper), b(c.disp(), &recorder);
  upper.OnEach([](DISPID id, DISPPARAMS* p) {
    if (id == kOnKeyPress) {
      SHORT& key = *p->rgvarg[0].piVal;
      if (key >= 'a' && key <= 'z') key = static_cast<SHORT>(key - 'a' + 'A');
    }
  });
  std::string seen;
  recorder.OnEach([&](DISPID id, DISPPARAMS* p) {
    if (id == kOnKeyPress) seen.push_back(static_cast<char>(*p->rgvarg[0].piVal));
  });
  ASSERT_EQ(c.ctl()->TypeText(u"ok!"), S_OK);
  EXPECT_EQ(seen, "OK!");
  EXPECT_EQ(c.Text(), "OK!");
}

TEST(Events, TypingObeysTheEditRules) {
  CountingSink sink;
  Component c;
  Advised advised(c.disp(), &sink);
  ASSERT_EQ(c.Put(11, I4(3)), S_OK);
  ASSERT_EQ(c.Put(4, I4(2)), S_OK);  // lower case
  ASSERT_EQ(c.ctl()->TypeText(u"ABCDE"), S_OK);
  EXPECT_EQ(c.Text(), "abc");
  EXPECT_EQ(sink.Count(kOnChange), 3);

  ASSERT_EQ(c.Put(16, Bool(true)), S_OK);
  EXPECT_EQ(c.ctl()->TypeText(u"z"), E_ACCESSDENIED);
  EXPECT_EQ(c.Text(), "abc");
  EXPECT_EQ(sink.Count(kOnKeyPress), 6) << "the key is still announced";
  EXPECT_EQ(sink.Count(kOnChange), 3);
}

TEST(Events, BurstFromManyThreadsReachesEverySink) {
  CountingSink s1, s2;
  Component c;
  Advised a(c.disp(), &s1), b(c.disp(), &s2);
  ULONG delivered = 0;
  ASSERT_EQ(c.ctl()->FireBurst(kOnClick, 8, 250, &delivered), S_OK);
  EXPECT_EQ(delivered, 8u * 250u * 2u);
  EXPECT_EQ(s1.Count(kOnClick), 2000);
  EXPECT_EQ(s2.Count(kOnClick), 2000);
  ULONG n = 0;
  ASSERT_EQ(c.ctl()->DeliveredTo(a.cookie(), &n), S_OK);
  EXPECT_EQ(n, 2000u);
  EXPECT_EQ(c.ctl()->FireBurst(kOnClick, 0, 1, &delivered), E_INVALIDARG);
  EXPECT_EQ(delivered, 0u);
}

TEST(Events, AdviseAndUnadviseDuringABurst) {
  CountingSink steady, churn;
  Component c;
  Advised a(c.disp(), &steady);
  std::atomic<bool> done{false};
  std::thread churner([&] {
    while (!done) {
      DWORD cookie = 0;
      if (a.point()->Advise(&churn, &cookie) == S_OK) a.point()->Unadvise(cookie);
    }
  });
  ULONG delivered = 0;
  EXPECT_EQ(c.ctl()->FireBurst(kOnClick, 4, 500, &delivered), S_OK);
  done = true;
  churner.join();
  EXPECT_EQ(steady.Count(kOnClick), 2000);
  EXPECT_EQ(delivered, 2000u + static_cast<ULONG>(churn.Count(kOnClick)));
  EXPECT_EQ(churn.Refs(), 0);
}

TEST(Shutdown, LastReleaseInsideASinkDropsQueuedEvents) {
  CountingSink sink;
  IDispatch* disp = nullptr;
  ASSERT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&disp)),
            S_OK);
  Latch go;
  sink.OnEach([&](DISPID id, DISPPARAMS*) {
    if (id == kOnChange && sink.Count(kOnChange) == 1) {
      go.Wait();
      disp->Release();  // the last reference goes, on the event thread
    }
  });
  DWORD cookie = 0;
  {
    Advised advised(disp, &sink);
    ASSERT_EQ(advised.point()->Advise(&sink, &cookie), S_OK);  // outlives `advised`
  }
  for (int i = 0; i < 50; ++i) {
    BstrArg text(std::to_string(i).c_str());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS p{&text.v, &named, 1, 1};
    ASSERT_EQ(
        disp->Invoke(DISPID_TEXT, IID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr),
        S_OK);
  }
  go.Open();  // from here on the sink holds the only reference
  sink.WaitUntilReleased();
  EXPECT_EQ(sink.Count(kOnChange), 1) << "the queued OnChange events were dropped";
}

TEST(Shutdown, ReleaseWithEventsQueuedAndAScanRunning) {
  CountingSink sink;
  {
    Component c;
    Advised advised(c.disp(), &sink);
    ASSERT_EQ(c.Put(34, I2(1)), S_OK);
    ASSERT_EQ(c.Put(39, Int(1)), S_OK);
    ASSERT_EQ(c.Call(47), S_OK);
    for (int i = 0; i < 100; ++i)
      ASSERT_EQ(c.PutText(DISPID_TEXT, std::to_string(i).c_str()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(advised.point()->Advise(&sink, &cookie), S_OK);  // stays connected to the end
  }
  EXPECT_EQ(sink.Refs(), 0) << "the component let go of its sinks";
  EXPECT_LE(sink.Count(kOnChange), 2 * 101);
}

}  // namespace

namespace {

// SimControl: the test control through IDispatch, an object of its own for
// callers in another apartment (scanmontura_interface.h).
TEST(SimControl, DrivesTheAttachedComponentAndTellsItsThreads) {
  const scanmontura::Interface& in = scanmontura::kISimControlDispatch;
  auto id = [&](const char* name) { return scanmontura::Find(in, name)->dispid; };
  CountingSink sink;
  Component c;
  Advised advised(c.disp(), &sink);
  IDispatch* control = nullptr;
  ASSERT_EQ(CoCreateInstance(scanmontura::kSimControl.clsid, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IDispatch, reinterpret_cast<void**>(&control)),
            S_OK);

  auto invoke = [&](DISPID dispid, WORD flags, VARIANT* args, UINT n, VARIANT* result) {
    DISPPARAMS p{args, nullptr, n, 0};
    return control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, result, nullptr,
                           nullptr);
  };
  auto get = [&](const char* name) {
    Variant r;
    EXPECT_EQ(invoke(id(name), DISPATCH_PROPERTYGET, nullptr, 0, &r), S_OK) << name;
    EXPECT_EQ(r.v.vt, VT_I4) << name;
    return r.v.lVal;
  };
  auto attach = [&](IDispatch* d) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = d;
    Variant none;
    return invoke(id("Attach"), DISPATCH_METHOD, &arg, 1, &none);
  };

  Variant none;
  EXPECT_EQ(invoke(id("Click"), DISPATCH_METHOD, nullptr, 0, &none), E_UNEXPECTED)
      << "nothing attached yet";
  EXPECT_EQ(attach(&sink), E_INVALIDARG) << "no component";
  ASSERT_EQ(attach(c.disp()), S_OK);

  OLECHAR name[] = {'t', 'y', 'p', 'e', 't', 'e', 'x', 't', 0};
  LPOLESTR names[] = {name};
  DISPID found = 0;
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &found), S_OK);
  EXPECT_EQ(found, id("TypeText"));

  sink.OnEach([](DISPID dispid, DISPPARAMS* p) {
    if (dispid == kOnKeyPress && *p->rgvarg[0].piVal == 'b') *p->rgvarg[0].piVal = 'B';
  });
  BstrArg text("ab");
  EXPECT_EQ(invoke(id("TypeText"), DISPATCH_METHOD, &text.v, 1, &none), S_OK);
  EXPECT_EQ(c.Text(), "aB");
  EXPECT_EQ(invoke(id("Click"), DISPATCH_METHOD, nullptr, 0, &none), S_OK);
  EXPECT_EQ(invoke(id("DblClick"), DISPATCH_METHOD, nullptr, 0, &none), S_OK);
  VARIANT wait = I4(60000);
  EXPECT_EQ(invoke(id("WaitIdle"), DISPATCH_METHOD, &wait, 1, &none), S_OK);
  EXPECT_EQ(sink.Count(kOnKeyPress), 2);
  EXPECT_EQ(sink.Count(kOnClick), 1);
  EXPECT_EQ(sink.Count(kOnDblClick), 1);
  EXPECT_EQ(get("ConnectionCount"), 1);
  EXPECT_EQ(get("Apartment"), 2) << "no single-threaded apartment here";
  // Created and last called on this thread; events fired on the event thread.
  EXPECT_EQ(get("CallThread"), get("HomeThread"));
  EXPECT_NE(get("EventThread"), 0);
  EXPECT_NE(get("EventThread"), get("HomeThread"));

  struct Refused {
    const char* member;
    WORD flags;
    UINT args;
    HRESULT hr;
  };
  VARIANT two[2] = {I4(1), I4(2)};
  for (const Refused& r : {Refused{"ConnectionCount", DISPATCH_METHOD, 0, DISP_E_MEMBERNOTFOUND},
                           Refused{"Click", DISPATCH_PROPERTYGET, 0, DISP_E_MEMBERNOTFOUND},
                           Refused{"Apartment", DISPATCH_PROPERTYPUT, 1, DISP_E_MEMBERNOTFOUND},
                           Refused{"TypeText", DISPATCH_METHOD, 0, DISP_E_BADPARAMCOUNT},
                           Refused{"Click", DISPATCH_METHOD, 2, DISP_E_BADPARAMCOUNT}}) {
    Variant result;
    EXPECT_EQ(invoke(id(r.member), r.flags, two, r.args, &result), r.hr) << r.member;
  }
  EXPECT_EQ(invoke(99, DISPATCH_METHOD, nullptr, 0, &none), DISP_E_MEMBERNOTFOUND);
  control->Release();  // and with it the component it held
}

// Create: a component of the control's own, attached; for callers in another
// process, whom COM may serve each class from a process of its own.
class CreatedBy {
 public:
  CreatedBy() {
    EXPECT_EQ(CoCreateInstance(scanmontura::kSimControl.clsid, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDispatch, reinterpret_cast<void**>(&control_)),
              S_OK);
  }
  ~CreatedBy() {
    if (control_) control_->Release();
  }
  CreatedBy(const CreatedBy&) = delete;
  CreatedBy& operator=(const CreatedBy&) = delete;

  HRESULT Invoke(const char* name, VARIANT* arg, VARIANT* result, UINT n = 1) {
    const DISPID id = scanmontura::Find(scanmontura::kISimControlDispatch, name)->dispid;
    DISPPARAMS p{arg, nullptr, arg ? n : 0, 0};
    const scanmontura::Function* f = scanmontura::Find(scanmontura::kISimControlDispatch, name);
    const WORD flags = f->kind == scanmontura::Kind::kGet ? DISPATCH_PROPERTYGET : DISPATCH_METHOD;
    return control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, result, nullptr, nullptr);
  }
  // A new component from Create, with the caller's reference; null on failure.
  IDispatch* Create() {
    Variant made;
    if (Invoke("Create", nullptr, &made) != S_OK || made.v.vt != VT_DISPATCH) return nullptr;
    IDispatch* d = made.v.pdispVal;
    d->AddRef();
    return d;
  }
  HRESULT Type(const char* text) {
    BstrArg arg(text);
    Variant none;
    return Invoke("TypeText", &arg.v, &none);
  }

 private:
  IDispatch* control_ = nullptr;
};

std::string TextOf(IDispatch* d) {
  Variant r;
  DISPPARAMS p{nullptr, nullptr, 0, 0};
  EXPECT_EQ(d->Invoke(DISPID_TEXT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &p, &r,
                      nullptr, nullptr),
            S_OK);
  return r.str();
}

TEST(SimControl, CreateMakesAComponentAndAttachesToIt) {
  CreatedBy control;
  IDispatch* first = control.Create();
  ASSERT_NE(first, nullptr);
  CountingSink sink;
  {
    Advised advised(first, &sink);
    ASSERT_EQ(control.Type("ab"), S_OK);
    EXPECT_EQ(TextOf(first), "ab");
    EXPECT_EQ(sink.Count(kOnKeyPress), 2);
  }
  // A second Create attaches the control to the new one; the first keeps its text.
  IDispatch* second = control.Create();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  ASSERT_EQ(control.Type("z"), S_OK);
  EXPECT_EQ(TextOf(second), "z");
  EXPECT_EQ(TextOf(first), "ab");

  VARIANT one = I4(1);
  Variant none;
  EXPECT_EQ(control.Invoke("Create", &one, &none), DISP_E_BADPARAMCOUNT);
  Component attached;  // Attach takes over from Create
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_DISPATCH;
  arg.pdispVal = attached.disp();
  EXPECT_EQ(control.Invoke("Attach", &arg, &none), S_OK);
  ASSERT_EQ(control.Type("q"), S_OK);
  EXPECT_EQ(attached.Text(), "q");
  EXPECT_EQ(TextOf(second), "z");
  first->Release();
  second->Release();
}

// One thread keeps making new components with Create while others type into
// and click whichever is attached: every call finds a component that lives
// until it is over (the ThreadSanitizer build checks the control's own state).
TEST(SimControl, CreateRacesTheCallsOfOtherThreads) {
  CreatedBy control;
  IDispatch* start = control.Create();
  ASSERT_NE(start, nullptr);
  start->Release();
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::atomic<int> calls{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 2; ++t)
    callers.emplace_back([&] {
      while (!stop.load()) {
        Variant none;
        if (control.Type("k") != S_OK || control.Invoke("Click", nullptr, &none) != S_OK)
          failures.fetch_add(1);
        calls.fetch_add(1);
      }
    });
  // At least 200 creations, and on until the callers have made 400 calls among them.
  for (int i = 0; i < 200 || calls.load() < 400; ++i) {
    IDispatch* made = control.Create();
    if (!made) failures.fetch_add(1);
    if (made) made->Release();
  }
  stop = true;
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
