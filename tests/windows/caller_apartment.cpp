// A listener that lives in the single-threaded apartment of the thread whose
// call fires its event: COM brings the event to that thread while it waits in
// the runtime for the call to end, and the listener makes a call of its own
// from there, which waits in turn. Run by the suite of each threading model.
// And waits that nest the other way round: a call made inside a wait that
// ends after the call it waited in.
#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "host_support.h"
#include "scanmontura_interface.h"
#include "suite_support.h"

namespace wh {
namespace {

constexpr DISPID kOnChange = 1;

// A dispatch object reached by DISPID alone, whose Invoke hands the DISPID to
// the function it was made with. It answers for the component's event
// interface too, so it can be a sink.
class Callback final : public IDispatch {
 public:
  explicit Callback(std::function<void(DISPID)> run) : run_(std::move(run)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    const bool ours = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                      IsEqualIID(iid, scanmontura::kIScanMonturaEvents.iid);
    *out = ours ? static_cast<IDispatch*>(this) : nullptr;
    if (ours) AddRef();
    return ours ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    run_(dispid);
    return S_OK;
  }

 private:
  ~Callback() = default;
  LONG refs_ = 1;
  std::function<void(DISPID)> run_;
};

struct Event {
  DISPID dispid;
  DWORD thread;
};

// One member call on d through the runtime, as the bridge makes it.
HRESULT invoke_helper(IDispatch* d) {
  static auto helper =
      runtime_function<HRESULT(__cdecl*)(JNIEnv*, IDispatch*, DISPID, DISPPARAMS*, WORD, EXCEPINFO*,
                                         UINT*, VARIANT*)>("ezjcomInvokeHelper");
  DISPPARAMS none{};
  EXCEPINFO excep{};
  VARIANT result;
  VariantInit(&result);
  UINT argErr = 0;
  return helper(env(), d, DISPID_VALUE, &none, DISPATCH_METHOD, &excep, &argErr, &result);
}

constexpr UINT kMakeInnerCall = WM_APP + 1;

// The call a window makes when it is asked to, and how it went.
struct InnerCall {
  IDispatch* target;
  HRESULT hr;
  DWORD thread;
};

LRESULT CALLBACK inner_call_window(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* call = reinterpret_cast<InnerCall*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message != kMakeInnerCall || !call) return DefWindowProcW(window, message, w, l);
  call->thread = GetCurrentThreadId();
  call->hr = invoke_helper(call->target);
  return 0;
}

// Waits for h, dispatching the apartment's messages and the COM calls made to it.
bool pump_until(HANDLE h) {
  DWORD index = 0;
  return CoWaitForMultipleHandles(0, kWaitMs, 1, &h, &index) == S_OK;
}

// Gives up on a run that stopped: the thread that waits for itself cannot be joined.
void wait_or_end(HANDLE h, const char* what) {
  if (WaitForSingleObject(h, kWaitMs) == WAIT_OBJECT_0) return;
  check(false, what, "still waiting after " + std::to_string(kWaitMs / 1000) + " s");
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  std::fflush(stdout);
  ExitProcess(1);
}

}  // namespace

void nested_waits_in_a_single_threaded_caller() {
  // The outer call asks the caller's window for the inner call (a sent
  // message: COM's modal loop dispatches those, and leaves posted ones in the
  // queue) and ends while the inner one is still under way, so that its end
  // is reported to the caller inside the inner wait.
  HANDLE inner_started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE outer_returns = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND window = nullptr;
  auto* inner = new Callback([&](DISPID) {
    SetEvent(inner_started);
    WaitForSingleObject(outer_returns, kWaitMs);
    Sleep(50);  // the outer call's end is reported meanwhile
  });
  auto* outer = new Callback([&](DISPID) {
    SendNotifyMessageW(window, kMakeInnerCall, 0, 0);
    WaitForSingleObject(inner_started, kWaitMs);
    SetEvent(outer_returns);
  });
  HRESULT init = E_FAIL, outer_hr = E_FAIL, inner_hr = E_FAIL;
  DWORD inner_thread = 0, caller_thread = 0;
  std::function<void()> body = [&] {
    caller_thread = GetCurrentThreadId();
    init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    AttachedThread attached;
    InnerCall call{inner, E_FAIL, 0};
    WNDCLASSW wc{};
    wc.lpfnWndProc = inner_call_window;
    wc.lpszClassName = L"jtz nested waits";
    RegisterClassW(&wc);
    window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             nullptr, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&call));
    outer_hr = invoke_helper(outer);
    inner_hr = call.hr;
    inner_thread = call.thread;
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, nullptr);
    if (SUCCEEDED(init)) CoUninitialize();
  };
  HANDLE t = CreateThread(nullptr, 0, run_body, &body, 0, nullptr);
  wait_or_end(t,
              "a single-threaded caller's call ended while a call it made inside its wait "
              "still waited (no signal lost)");
  for (HANDLE h : {t, inner_started, outer_returns}) CloseHandle(h);
  inner->Release();
  outer->Release();
  check(init == S_OK && window && outer_hr == S_OK && inner_hr == S_OK &&
            inner_thread == caller_thread,
        "a single-threaded caller dispatches its messages while it waits, and a call made "
        "there ends before the one it waited in, each seeing its own end",
        hex(outer_hr) + " " + hex(inner_hr));
}

void listener_in_the_callers_apartment() {
  HANDLE marshaled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE advised = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE called = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE unadvised = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Pair p;
  IStream* stream = nullptr;
  IUnknown* component = nullptr;
  HRESULT init = E_FAIL, marshal = E_FAIL;
  DWORD sta_thread = 0;
  bool pumped = false;
  std::string call_exception = "not called";
  std::vector<Event> events;
  std::u16string nested_text;
  std::string nested_exception = "not called";
  std::function<void()> body = [&] {
    sta_thread = GetCurrentThreadId();
    init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      AttachedThread attached;
      SetEnvironmentVariableW(L"SCANMONTURA_SIM_EVENTS", L"in-call");
      p = create_pair();
      SetEnvironmentVariableW(L"SCANMONTURA_SIM_EVENTS", nullptr);
      component = p.created ? com_id(p.component) : nullptr;  // a pointer of the MTA
      // Its first OnChange reads the text back through the bridge, inside the event.
      auto* sink = new Callback([&](DISPID dispid) {
        events.push_back({dispid, GetCurrentThreadId()});
        if (dispid != kOnChange || events.size() != 1) return;
        nested_text = chars(member<jstring>("getText", p.device));
        nested_exception = take_exception();
      });
      marshal = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, sink, &stream);
      SetEvent(marshaled);
      // The connection asks the sink for its event interface on this thread.
      pumped = pump_until(advised);
      if (p.bound) {
        member<void>("setText__Ljava_lang_String_2", p.device, jstr(u"its own apartment"));
        call_exception = take_exception();
      }
      SetEvent(called);
      // The component lets go of the sink here too.
      pumped = pump_until(unadvised) && pumped;
      sink->Release();
      release_pair(p);
    }
    if (SUCCEEDED(init)) CoUninitialize();
  };
  HANDLE t = CreateThread(nullptr, 0, run_body, &body, 0, nullptr);

  // This thread, in the MTA, connects the sink's proxy to the component.
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  wait_or_end(marshaled, "the single-threaded caller made its sink");
  IDispatch* proxy = nullptr;
  if (SUCCEEDED(marshal))
    CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&proxy));
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  DWORD cookie = 0;
  HRESULT advise = E_FAIL;
  if (component) {
    if (SUCCEEDED(component->QueryInterface(IID_IConnectionPointContainer,
                                            reinterpret_cast<void**>(&container))) &&
        SUCCEEDED(container->FindConnectionPoint(scanmontura::kIScanMonturaEvents.iid, &point)) &&
        proxy)
      advise = point->Advise(proxy, &cookie);
  }
  SetEvent(advised);
  wait_or_end(called, "the single-threaded caller's setText ended (nothing waits for itself)");
  const HRESULT unadvise = point && cookie ? point->Unadvise(cookie) : E_FAIL;
  for (IUnknown* u : {static_cast<IUnknown*>(point), static_cast<IUnknown*>(container),
                      static_cast<IUnknown*>(proxy)})
    if (u) u->Release();
  SetEvent(unadvised);
  wait_or_end(t, "the single-threaded caller ended");
  for (HANDLE h : {t, marshaled, advised, called, unadvised}) CloseHandle(h);
  if (SUCCEEDED(joined)) CoUninitialize();

  check(
      init == S_OK && p.bound && SUCCEEDED(marshal) && advise == S_OK && unadvise == S_OK && pumped,
      "a thread in a single-threaded apartment connects a sink of its own apartment",
      p.exception + " marshal " + hex(marshal) + " advise " + hex(advise) + " unadvise " +
          hex(unadvise));
  const bool one_event_here =
      events.size() == 1 && events[0].dispid == kOnChange && events[0].thread == sta_thread;
  check(call_exception.empty() && one_event_here && nested_exception.empty() &&
            nested_text == u"its own apartment",
        "OnChange fired inside its setText reaches that sink on the calling thread while the call "
        "waits, and the sink's own getText from inside the event answers",
        call_exception + nested_exception + " " + std::to_string(events.size()) + " event(s)");
}

}  // namespace wh
