// The checks of the simulated component registered as "Apartment", as ActiveX
// controls are: COM hosts it in a single-threaded apartment of its own, and
// every creation, query, call, event and release crosses apartments through
// COM's marshaling (the standard marshaling of IDispatch, which the type
// library marshaler of oleaut32 uses for the component's dispinterfaces). The
// main thread is a Java thread that has joined the multithreaded apartment
// itself; one check runs on a thread in no apartment, and one on a thread
// that something else put in a single-threaded apartment first, as a GUI
// thread is.
//
// The component is driven through SimControl (its test control as an object
// of its own with a dispatch interface, ISimControlDispatch: ISimControl has
// no proxy), which COM creates in the component's apartment and which also
// tells which thread the component lives on, last ran a call on and last
// fired an event on.
#include <windows.h>
#include <oaidl.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "host_classes.h"
#include "host_support.h"
#include "suite_support.h"
#include "scanmontura_interface.h"

namespace wh {
namespace {

const std::string kLoadEvents =
    "Java_puente_IScanMonturaEvents__1_1JComLoad__Lezjcom_JComObject_2Z";

std::wstring guid_text(const GUID& g) {
  wchar_t text[40] = L"";
  StringFromGUID2(g, text, 40);
  return text;
}

std::wstring registry_text(const std::wstring& key, const wchar_t* value = nullptr) {
  wchar_t text[MAX_PATH] = L"";
  DWORD size = sizeof text;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  return text;
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// A SimControl attached to a component, reached from the calling thread's
// apartment (the component is passed to Attach as the caller holds it, and
// arrives in its own apartment as itself).
class Control : public SimControlCalls {
 public:
  explicit Control(IUnknown* component) {
    IDispatch* dispatch = nullptr;
    if (!component ||
        FAILED(component->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
      return;
    if (SUCCEEDED(CoCreateInstance(scanmontura::kSimControl.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDispatch, reinterpret_cast<void**>(&face_)))) {
      VARIANT arg;
      VariantInit(&arg);
      arg.vt = VT_DISPATCH;
      arg.pdispVal = dispatch;
      attached_ = call("Attach", &arg);
    }
    dispatch->Release();
  }

  bool ok() const { return face_ != nullptr && attached_ == S_OK; }
  HRESULT attached() const { return attached_; }

 private:
  HRESULT attached_ = E_FAIL;
};

std::vector<Delivery> take_deliveries() { return recorder().take(); }

std::vector<std::string> what_of(const std::vector<Delivery>& ds) {
  std::vector<std::string> out;
  for (const Delivery& d : ds) out.push_back(d.what);
  return out;
}

// ---- 1. the registration ----

void registration() {
  const std::wstring control_model =
      registry_text(L"CLSID\\" + guid_text(scanmontura::kSimControl.clsid) + L"\\InprocServer32",
                    L"ThreadingModel");
  check(registered_threading_model() == L"Apartment" && control_model == L"Apartment",
        "DllRegisterServer with SCANMONTURA_SIM_THREADING=Apartment: ThreadingModel Apartment "
        "(ScanMontura, and SimControl with it)",
        narrow(registered_threading_model()) + " " + narrow(control_model));

  // What the type library marshaler looks up for each interface: its
  // proxy/stub class (oleaut32's) and its type library.
  const std::wstring libid = guid_text(scanmontura::kLibrary.libid);
  const std::wstring psoa = L"{00020424-0000-0000-C000-000000000046}";
  const std::wstring psdispatch = L"{00020420-0000-0000-C000-000000000046}";
  std::string wrong;
  for (const scanmontura::Interface* in : scanmontura::kLibrary.interfaces) {
    const std::wstring key = L"Interface\\" + guid_text(in->iid);
    const std::wstring ps = registry_text(key + L"\\ProxyStubClsid32");
    const std::wstring lib = registry_text(key + L"\\TypeLib");
    if ((lstrcmpiW(ps.c_str(), psoa.c_str()) != 0 &&
         lstrcmpiW(ps.c_str(), psdispatch.c_str()) != 0) ||
        lstrcmpiW(lib.c_str(), libid.c_str()) != 0)
      wrong += std::string(in->name) + ": " + narrow(ps) + " " + narrow(lib) + "; ";
  }
  // RegisterTypeLib files it under the key of its system kind: win32 or win64.
#ifdef _WIN64
  const wchar_t* const syskind = L"win64";
#else
  const wchar_t* const syskind = L"win32";
#endif
  const std::wstring typelib_path = registry_text(L"TypeLib\\" + libid + L"\\1.0\\0\\" + syskind);
  const std::wstring server =
      registry_text(L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}\\InprocServer32");
  check(wrong.empty() && !typelib_path.empty() &&
            lstrcmpiW(typelib_path.c_str(), server.c_str()) == 0,
        "RegisterTypeLib: the type library (embedded in the module) and its three "
        "dispinterfaces, with oleaut32's proxy/stub class",
        wrong + narrow(typelib_path));

  // Loaded as the marshaler loads it; IDispatch resolves to the system's stdole2.
  ITypeLib* lib = nullptr;
  ITypeInfo* info = nullptr;
  ITypeInfo* base = nullptr;
  TYPEATTR* attr = nullptr;
  TYPEATTR* base_attr = nullptr;
  HREFTYPE href = 0;
  bool ok =
      SUCCEEDED(LoadRegTypeLib(scanmontura::kLibrary.libid, 1, 0, 0, &lib)) &&
      SUCCEEDED(lib->GetTypeInfoOfGuid(kIidIScanMontura, &info)) &&
      SUCCEEDED(info->GetTypeAttr(&attr)) && SUCCEEDED(info->GetRefTypeOfImplType(0, &href)) &&
      SUCCEEDED(info->GetRefTypeInfo(href, &base)) && SUCCEEDED(base->GetTypeAttr(&base_attr));
  ok = ok && attr->typekind == TKIND_DISPATCH && !(attr->wTypeFlags & TYPEFLAG_FDUAL) &&
       attr->cFuncs == scanmontura::kIScanMontura.count &&
       IsEqualGUID(base_attr->guid, IID_IDispatch);
  if (base_attr) base->ReleaseTypeAttr(base_attr);
  if (attr) info->ReleaseTypeAttr(attr);
  for (IUnknown* u :
       {static_cast<IUnknown*>(base), static_cast<IUnknown*>(info), static_cast<IUnknown*>(lib)})
    if (u) u->Release();
  check(ok,
        "LoadRegTypeLib: IScanMontura is a dispinterface of 85 functions whose base is "
        "stdole2's IDispatch");
}

// ---- 2. creation, binding, values and a failure across the apartments ----

struct Wrappers {
  Pair main;
  jobject events = nullptr;  // puente.IScanMonturaEvents, bound to the IDispatch proxy
};

bool create_and_bind(Wrappers& w, Control*& control) {
  w.main = create_pair();
  control = new Control(com_id(w.main.component));
  const DWORD me = GetCurrentThreadId();
  const LONG home = control->get("HomeThread");
  check(w.main.created && w.main.exception.empty() && control->ok() &&
            control->get("Apartment") == 1 && home > 0 && static_cast<DWORD>(home) != me,
        "__JComCreateObject from a thread in the MTA: COM hosts the component in a "
        "single-threaded apartment on a thread of its own",
        w.main.exception + " SimControl attached " +
            hex(static_cast<unsigned long>(control->attached())) + ", home thread " +
            std::to_string(home));
  if (!control->ok()) return false;

  // The bound IScanMontura is a proxy: a call runs on the component's thread.
  const std::u16string text = chars(member<jstring>("getText", w.main.device));
  const std::string exception = take_exception();
  check(w.main.bound && exception.empty() && text.empty() && control->get("CallThread") == home,
        "IScanMontura.__JComLoad binds a proxy of IScanMontura; its calls run on the "
        "component's thread",
        exception);

  w.events = ref(new_instance("puente/IScanMonturaEvents"));
  const jboolean strict = native<jboolean>(kLoadEvents, w.events, w.main.component, jboolean{0});
  const std::string strict_exception = take_exception();
  const jboolean fallback = native<jboolean>(kLoadEvents, w.events, w.main.component, jboolean{1});
  check(!strict && strict_exception.empty() && fallback && com_id(w.events) != nullptr,
        "IScanMonturaEvents.__JComLoad across the apartments: false without the IDispatch "
        "fallback, bound with it",
        strict_exception);
  return true;
}

// ---- 3. events ----

void events(const Wrappers& w, Control& control) {
  Vm& vm = Vm::instance();
  const DWORD me = GetCurrentThreadId();
  const LONG home = control.get("HomeThread");
  jobject listener = ref(new_instance(kListenerClass));
  const jboolean made = native<jboolean>(kListenerInit, listener);
  const jint cookie = call_in<jint>(g_runtime, kAdvise, w.main.component, listener);
  const std::string advise_exception = take_exception();
  check(made && cookie != 0 && advise_exception.empty() && control.get("ConnectionCount") == 1,
        "__JComAdvise connects a listener's sink through the proxies of the connection point",
        advise_exception);

  // Fired on the component's own thread, received on a thread of the MTA.
  const long attaches = vm.accounts().daemonAttaches;
  bool clicked = true;
  for (int i = 0; i < 6; ++i) clicked = clicked && control.call("Click") == S_OK;
  const std::vector<Delivery> clicks = take_deliveries();
  std::set<unsigned long> receivers;
  bool elsewhere = true;
  for (const Delivery& d : clicks) {
    receivers.insert(d.threadId);
    elsewhere = elsewhere && d.threadId != static_cast<unsigned long>(home) && d.threadId != me;
  }
  check(clicked && what_of(clicks) == std::vector<std::string>(6, "OnClick") &&
            control.get("EventThread") == home && elsewhere,
        "OnClick, fired on the component's thread, reaches the listener on another thread",
        joined(what_of(clicks)));
  const long attached = vm.accounts().daemonAttaches - attaches;
  check(attached >= 1 && attached <= static_cast<long>(receivers.size()),
        "the runtime attaches a receiving thread once, not once per event",
        std::to_string(clicks.size()) + " events on " + std::to_string(receivers.size()) +
            " threads, " + std::to_string(attached) + " attaches");

  // OnKeyPress: the key by reference, changed by the listener, back to the component.
  member<void>("setText__Ljava_lang_String_2", w.main.device, jstr(u""));
  const HRESULT emptied = control.wait_idle();
  take_deliveries();
  const HRESULT typed_hr = control.type_text(L"ab#x");
  const std::vector<std::string> typed = what_of(take_deliveries());
  const std::vector<std::string> expected = {
      "OnKeyPress 97", "OnChange",
      "OnKeyPress 98", "OnChange",
      "OnKeyPress 35", "JComOnEventException OnKeyPress java/lang/IllegalStateException",
      "OnChange",      "OnKeyPress 120"};
  const std::u16string text = chars(member<jstring>("getText", w.main.device));
  check(emptied == S_OK && typed_hr == S_OK && typed == expected && text == u"AB#",
        "OnKeyPress: the VT_BYREF key changed or swallowed by the listener goes back across the "
        "apartments to the component",
        joined(typed) + " text " + vm.utf8(vm.new_string(text)) + " wait " +
            hex(static_cast<unsigned long>(emptied)));

  // An event queued by a call, fired by the component's thread from its message loop.
  member<void>("setText__Ljava_lang_String_2", w.main.device, jstr(u"queued"));
  std::vector<std::string> queued;
  eventually([&] {
    for (const std::string& d : what_of(take_deliveries())) queued.push_back(d);
    return !queued.empty();
  });
  check(queued == std::vector<std::string>{"OnChange"},
        "OnChange queued by setText is fired from the component thread's message loop",
        joined(queued));

  server_side_then_disconnect(w.main.component, listener, cookie, control, "across the apartments");
}

// ---- 4. callers in no apartment and in a single-threaded one ----

// Whether the calling thread is left without any initialisation of COM.
bool uninitialised() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr == S_OK;
}

void thread_in_no_apartment() {
  Pair p;
  std::u16string text;
  std::string exception;
  bool left_alone = false;
  on_new_thread([&] {
    AttachedThread attached;
    p = create_pair();
    member<void>("setText__Ljava_lang_String_2", p.device, jstr(u"no apartment"));
    text = chars(member<jstring>("getText", p.device));
    exception = take_exception();
    release(p.device);
    release(p.component);
    left_alone = uninitialised();
  });
  check(p.created && p.bound && p.exception.empty() && exception.empty() &&
            text == u"no apartment" && left_alone,
        "a Java thread in no apartment creates, binds and calls the component, and is left "
        "uninitialised",
        p.exception + exception);
}

// inCall: the component fires the OnChange of a call inside it
// (SCANMONTURA_SIM_EVENTS=in-call while it is created), so the event has
// arrived, on a thread of COM's, when setText returns; otherwise it is queued.
void thread_in_sta(bool inCall) {
  Pair p;
  HRESULT init = E_FAIL;
  std::u16string text;
  std::string refused, advise_exception, unadvise_exception;
  std::vector<std::string> seen;
  std::vector<unsigned long> seen_on;
  bool still_sta = false;
  DWORD sta_thread = 0;
  IUnknown* component = nullptr;
  HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE inspected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::function<void()> body = [&] {
    sta_thread = GetCurrentThreadId();
    init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      AttachedThread attached;
      if (inCall) SetEnvironmentVariableW(L"SCANMONTURA_SIM_EVENTS", L"in-call");
      p = create_pair();
      SetEnvironmentVariableW(L"SCANMONTURA_SIM_EVENTS", nullptr);
      component = p.created ? com_id(p.component) : nullptr;
      SetEvent(created);
      WaitForSingleObject(inspected, INFINITE);

      member<void>("setText__Ljava_lang_String_2", p.device, jstr(u"single-threaded"));
      text = chars(member<jstring>("getText", p.device));
      member<void>("setVelocidad__I", p.device, jint{99});
      Object* e = take_throwable();
      refused = e ? Vm::instance().utf8(e->get_obj("description")) : "no exception";

      jobject listener = ref(new_instance(kListenerClass));
      native<jboolean>(kListenerInit, listener);
      const jint cookie = call_in<jint>(g_runtime, kAdvise, p.component, listener);
      advise_exception = take_exception();
      member<void>("setText__Ljava_lang_String_2", p.device, jstr(u"changed"));
      auto take = [&] {
        for (const Delivery& d : take_deliveries()) {
          seen.push_back(d.what);
          seen_on.push_back(d.threadId);
        }
        return !seen.empty();
      };
      if (inCall)
        take();  // already there
      else
        eventually(take);
      call_in<void>(g_runtime, kUnadvise, p.component, listener, cookie);
      unadvise_exception = take_exception();
      release(p.device);
      release(p.component);
    }
    // Still in its own apartment, with exactly its own initialisation.
    const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(again)) CoUninitialize();
    if (SUCCEEDED(init)) CoUninitialize();
    still_sta = again == S_FALSE && uninitialised();
  };
  HANDLE t = CreateThread(nullptr, 0, run_body, &body, 0, nullptr);
  WaitForSingleObject(created, INFINITE);
  LONG apartment = -1, home = -1;
  if (component) {
    // From the main thread, in the MTA: the pointer the STA thread got is one of the MTA.
    Control control(component);
    apartment = control.get("Apartment");
    home = control.get("HomeThread");
  }
  SetEvent(inspected);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  CloseHandle(created);
  CloseHandle(inspected);

  check(init == S_OK && p.created && p.bound && p.exception.empty() && apartment == 1 && home > 0 &&
            static_cast<DWORD>(home) != sta_thread,
        "a thread already in a single-threaded apartment creates the component: no "
        "RPC_E_CHANGED_MODE, and the component is one of the MTA, usable from other threads",
        p.exception + " apartment " + std::to_string(apartment));
  const bool elsewhere = std::all_of(seen_on.begin(), seen_on.end(), [&](unsigned long t) {
    return t != sta_thread && t != static_cast<unsigned long>(home);
  });
  check(text == u"single-threaded" && refused == "Velocidad: 99 is out of range (1 to 10)" &&
            advise_exception.empty() && unadvise_exception.empty() &&
            seen == std::vector<std::string>{"OnChange"} && elsewhere,
        inCall ? "from that thread: calls, a refused call's description, and OnChange fired "
                 "inside setText, there before it returns, on a thread of COM's"
               : "from that thread: calls, a refused call's description, a listener and its "
                 "queued event, on a thread of COM's",
        refused + " " + advise_exception + unadvise_exception + joined(seen));
  check(still_sta, "the thread keeps its apartment and its own initialisation, no more");
}

// ---- 5. the end: every reference given back ----

void release_all(Wrappers& w, Control*& control) {
  delete control;
  control = nullptr;
  for (jobject o : {w.events, w.main.device, w.main.component})
    if (o) release(o);
  HMODULE sim = GetModuleHandleW(L"ScanMonturaSim.dll");
  auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(sim ? GetProcAddress(sim, "DllCanUnloadNow") : nullptr));
  check(can_unload && eventually([&] { return can_unload() == S_OK; }),
        "every reference given back: the component's module has no instance left "
        "(DllCanUnloadNow)");
}

}  // namespace

void apartment_suite() {
  // The main thread: a Java thread that joined the MTA itself.
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  registration();
  Wrappers w;
  Control* control = nullptr;
  if (create_and_bind(w, control)) {
    round_trips(w.main.device, *control, "the apartments");
    refused_call(w.main.device, "the apartments");
    events(w, *control);
    thread_in_no_apartment();
    for (bool inCall : {false, true}) thread_in_sta(inCall);
    listener_in_the_callers_apartment();
  }
  release_all(w, control);
  if (SUCCEEDED(joined)) CoUninitialize();
}

}  // namespace wh
