// The checks of the simulated component served from another process: COM's
// DLL surrogate (dllhost.exe) hosts it, set up by the AppID of its class, and
// the runtime of this 64-bit process creates it as a local server. Either the
// 64-bit component, which this process could load but is told not to
// (EZJCOM_SERVER=local), or the 32-bit one, which it cannot load (registered
// for 32-bit programs only). Every call, event and release crosses the
// process boundary: IDispatch through COM's standard marshaling, the
// dispinterfaces through the type library marshaler.
//
// The component of the calls and events is made by its test control,
// SimControl, which COM creates in a surrogate and whose Create makes a
// component there and attaches to it (Wine's surrogate serves each creation
// from a process of its own, so no Attach could reach a component created
// apart); the bridge binds it as the running instance, through the running
// object table. Creation through the bridge is checked on its own after.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "host_classes.h"
#include "host_support.h"
#include "suite_support.h"
#include "scanmontura_interface.h"

namespace wh {
namespace {

const wchar_t kSetting[] = L"EZJCOM_SERVER";
const wchar_t kServerKey[] = L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}\\InprocServer32";
const CLSID kClsid = {0x834FBEE5, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};

bool sim_loaded() { return GetModuleHandleW(L"ScanMonturaSim.dll") != nullptr; }

bool key_exists(const wchar_t* path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// SimControl in a surrogate, attached to a component it made there.
class Control : public SimControlCalls {
 public:
  explicit Control(DWORD context) {
    created_ = CoCreateInstance(scanmontura::kSimControl.clsid, nullptr, context, IID_IDispatch,
                                reinterpret_cast<void**>(&face_));
    if (FAILED(created_)) return;
    VARIANT made;
    VariantInit(&made);
    made_ = invoke("Create", DISPATCH_METHOD, nullptr, &made);
    if (SUCCEEDED(made_) && made.vt == VT_DISPATCH && made.pdispVal) {
      component_ = made.pdispVal;
      component_->AddRef();
    }
    VariantClear(&made);
  }
  ~Control() {
    if (component_) component_->Release();  // before the control, which the base releases
  }

  bool ok() const { return face_ != nullptr && component_ != nullptr; }
  IDispatch* component() const { return component_; }
  std::string why() const {
    return "SimControl created " + hex(static_cast<unsigned long>(created_)) + ", Create " +
           hex(static_cast<unsigned long>(made_));
  }

 private:
  IDispatch* component_ = nullptr;
  HRESULT created_ = E_FAIL;
  HRESULT made_ = E_FAIL;
};

// The value of EZJCOM_SERVER for the scope; null unsets it.
class Setting {
 public:
  explicit Setting(const wchar_t* value) {
    const DWORD n = GetEnvironmentVariableW(kSetting, before_, 64);
    had_ = n > 0 && n < 64;
    SetEnvironmentVariableW(kSetting, value);
  }
  ~Setting() { SetEnvironmentVariableW(kSetting, had_ ? before_ : nullptr); }
  Setting(const Setting&) = delete;
  Setting& operator=(const Setting&) = delete;

 private:
  wchar_t before_[64] = L"";
  bool had_ = false;
};

// ---- 1. the setting that refuses ----

void refused_settings() {
  struct Case {
    const wchar_t* value;
    const char* name;
  } const cases[] = {{L"sideways", "sideways"},
                     {L"LOCALSERVER", "LOCALSERVER"},
                     {L"inproc-or-local-or-anything", "a value longer than any known"}};
  std::string wrong;
  for (const Case& c : cases) {
    Setting setting(c.value);
    jobject component = ref(new_instance("puente/ScanMontura"));
    const jboolean created = native<jboolean>(kCreate, component, jboolean{0}, jboolean{0});
    Object* e = take_throwable();
    const bool refused = !created && e && e->cls->name == "ezjcom/JComException" &&
                         static_cast<unsigned long>(e->get_int("hResult")) == 0x80070057ul &&
                         com_id(component) == nullptr;
    if (!refused) wrong += std::string(c.name) + "; ";
    release(component);
  }
  check(wrong.empty() && !sim_loaded(),
        "EZJCOM_SERVER with a value it does not know: creation fails with E_INVALIDARG, "
        "nothing created",
        wrong);
}

// ---- 2. a component in the surrogate, bound as the running instance ----

struct Wrappers {
  Pair main;
  jobject events = nullptr;
};

// The identity (IUnknown) of an object, without a reference.
IUnknown* identity(IUnknown* p) {
  IUnknown* u = nullptr;
  if (!p || FAILED(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u)))) return nullptr;
  u->Release();
  return u;
}

bool bind_running(Wrappers& w, Control*& control, bool x86) {
  const bool own = key_exists(kServerKey, KEY_WOW64_64KEY);
  const bool other = key_exists(kServerKey, KEY_WOW64_32KEY);
  check(x86 ? !own && other : own,
        x86 ? "the component is registered for 32-bit programs only"
            : "the component is registered as a 64-bit in-process server");

  control = new Control(CLSCTX_LOCAL_SERVER | (x86 ? CLSCTX_ACTIVATE_32_BIT_SERVER : 0));
  w.main.component = ref(new_instance("puente/ScanMontura"));
  w.main.created =
      control->ok() && native<jboolean>(kCreate, w.main.component, jboolean{1}, jboolean{0}) != 0;
  w.main.exception = take_exception();
  w.main.device = ref(new_instance("puente/IScanMontura"));
  if (w.main.created)
    w.main.bound = native<jboolean>(kLoad, w.main.device, w.main.component, jboolean{0}) != 0;
  w.main.exception += take_exception();
  check(w.main.created && w.main.bound && w.main.exception.empty() && !sim_loaded() &&
            identity(com_id(w.main.component)) == identity(control->component()),
        "__JComCreateObject(true, false) binds the component SimControl made in the surrogate, "
        "found in the running object table",
        w.main.exception + " " + control->why());
  if (!w.main.bound) return false;

  w.events = ref(new_instance("puente/IScanMonturaEvents"));
  const jboolean bound =
      native<jboolean>("Java_puente_IScanMonturaEvents__1_1JComLoad__Lezjcom_JComObject_2Z",
                       w.events, w.main.component, jboolean{1});
  check(bound && take_exception().empty() && com_id(w.events) != nullptr,
        "IScanMonturaEvents.__JComLoad binds the proxy's IDispatch");
  return true;
}

// ---- 3. events from the other process ----

void events(const Wrappers& w, Control& control) {
  Vm& vm = Vm::instance();
  const DWORD me = GetCurrentThreadId();
  jobject listener = ref(new_instance(kListenerClass));
  const jboolean made = native<jboolean>(kListenerInit, listener);
  const jint cookie = call_in<jint>(g_runtime, kAdvise, w.main.component, listener);
  const std::string advise_exception = take_exception();
  check(made && cookie != 0 && advise_exception.empty() && control.get("ConnectionCount") == 1,
        "__JComAdvise connects a listener's sink to the component in the other process",
        advise_exception);

  bool clicked = true;
  for (int i = 0; i < 3; ++i) clicked = clicked && control.call("Click") == S_OK;
  const HRESULT idle = control.wait_idle();
  const std::vector<Delivery> clicks = recorder().take();
  bool elsewhere = !clicks.empty();
  std::vector<std::string> what;
  for (const Delivery& d : clicks) {
    what.push_back(d.what);
    elsewhere = elsewhere && d.threadId != me;
  }
  check(clicked && idle == S_OK && what == std::vector<std::string>(3, "OnClick") && elsewhere,
        "OnClick from the surrogate reaches the listener, on a thread of COM's here", joined(what));

  member<void>("setText__Ljava_lang_String_2", w.main.device, jstr(u"changed"));
  const HRESULT changed = control.wait_idle();
  const std::vector<std::string> change = taken();
  check(changed == S_OK && change == std::vector<std::string>{"OnChange"},
        "OnChange of setText, fired in the surrogate, reaches the listener", joined(change));

  member<void>("setText__Ljava_lang_String_2", w.main.device, jstr(u""));
  control.wait_idle();
  taken();
  const HRESULT typed_hr = control.type_text(L"ab#x");
  control.wait_idle();
  const std::vector<std::string> typed = taken();
  const std::vector<std::string> expected = {
      "OnKeyPress 97", "OnChange",
      "OnKeyPress 98", "OnChange",
      "OnKeyPress 35", "JComOnEventException OnKeyPress java/lang/IllegalStateException",
      "OnChange",      "OnKeyPress 120"};
  const std::u16string text = chars(member<jstring>("getText", w.main.device));
  check(typed_hr == S_OK && typed == expected && text == u"AB#",
        "OnKeyPress: the VT_BYREF key changed or swallowed by the listener goes back to the "
        "component in the other process",
        joined(typed) + " text " + vm.utf8(vm.new_string(text)));

  server_side_then_disconnect(w.main.component, listener, cookie, control, "from the surrogate");
}

// ---- 4. creation through the bridge ----

void creation() {
  const std::size_t journaled = journal_of("ezjcomCreateInstance").size();
  const DWORD started = GetTickCount();
  Pair p = create_pair();
  const DWORD took = GetTickCount() - started;
  member<void>("setText__Ljava_lang_String_2", p.device, jstr(u"created"));
  const std::u16string text = chars(member<jstring>("getText", p.device));
  const std::string e = take_exception();
  check(p.created && p.bound && p.exception.empty() && e.empty() && text == u"created" &&
            !sim_loaded() && journal_of("ezjcomCreateInstance").size() == journaled + 1,
        "__JComCreateObject creates the component in COM's surrogate (not loaded here), and "
        "it answers",
        p.exception + e + " (" + std::to_string(took) + " ms)");

  jobject running = ref(new_instance("puente/ScanMontura"));
  const jboolean found = native<jboolean>(kCreate, running, jboolean{1}, jboolean{0});
  const std::string exception = take_exception();
  check(found && exception.empty() && identity(com_id(running)) == identity(com_id(p.component)),
        "__JComCreateObject(true, false) finds it in the running object table", exception);
  release(running);
  release_pair(p);
}

// ---- 5. creations, calls and releases from several threads at once ----

void concurrent_pairs() {
  constexpr int kThreads = 4;
  std::vector<std::function<void()>> bodies;
  std::vector<std::string> outcome(kThreads);
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (int i = 0; i < kThreads; ++i)
    bodies.push_back([&, i] {
      WaitForSingleObject(go, INFINITE);
      AttachedThread attached;
      Pair p = create_pair();
      const std::u16string mine = u"thread " + std::u16string(1, static_cast<char16_t>(u'0' + i));
      std::u16string got;
      for (int round = 0; round < 5 && p.bound; ++round) {
        member<void>("setText__Ljava_lang_String_2", p.device, jstr(mine));
        got = chars(member<jstring>("getText", p.device));
        if (got != mine) break;
      }
      const std::string e = take_exception();
      release_pair(p);
      if (!p.created || !p.bound || got != mine || !e.empty())
        outcome[i] = "thread " + std::to_string(i) + ": " + p.exception + e + "; ";
    });
  std::vector<HANDLE> threads;
  for (auto& b : bodies) threads.push_back(CreateThread(nullptr, 0, run_body, &b, 0, nullptr));
  SetEvent(go);
  WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  for (HANDLE t : threads) CloseHandle(t);
  CloseHandle(go);
  std::string wrong;
  for (const std::string& o : outcome) wrong += o;
  check(wrong.empty() && !sim_loaded(),
        "4 threads at once each create a component in the surrogate, call it and release it",
        wrong);
}

// ---- 6. the end ----

void release_all(Wrappers& w, Control*& control) {
  delete control;
  control = nullptr;
  for (jobject o : {w.events, w.main.device, w.main.component})
    if (o) release(o);
  // The component revokes its running-object registration when it goes.
  const bool gone = eventually([] {
    IUnknown* running = nullptr;
    const HRESULT hr = GetActiveObject(kClsid, nullptr, &running);
    if (running) running->Release();
    return FAILED(hr);
  });
  check(gone,
        "every reference given back: the component in the surrogate is gone from the "
        "running object table");
}

// What the setting does where this process could load the component itself:
// "inproc" and unset load it here, as without a surrogate. Where only a
// 32-bit component is registered, every value reaches the surrogate.
void setting_table(bool x86) {
  struct Case {
    const wchar_t* value;
    const char* name;
    bool in_process;
  } const cases[] = {{L"local", "local", false},
                     {L"Local", "Local", false},
                     {L"inproc", "inproc", !x86},
                     {nullptr, "unset", !x86}};
  std::string wrong;
  for (const Case& c : cases) {
    Setting setting(c.value);
    const bool before = sim_loaded();
    Pair p = create_pair();
    member<void>("setText__Ljava_lang_String_2", p.device, jstr(u"where"));
    const bool answered = chars(member<jstring>("getText", p.device)) == u"where";
    const std::string e = take_exception();
    const bool here = sim_loaded() && !before;
    release_pair(p);
    // Loaded in-process once, it stays loaded: the cases that expect it come last.
    if (!p.created || !p.bound || !answered || !e.empty() || (here != c.in_process && !before))
      wrong += std::string(c.name) + ": " + p.exception + e + (here ? " in process" : "") + "; ";
  }
  check(wrong.empty(),
        x86 ? "EZJCOM_SERVER local, Local, inproc and unset: the 32-bit component is reached in "
              "the surrogate whatever the value"
            : "EZJCOM_SERVER local or Local: the surrogate; inproc or unset: loaded in this "
              "process",
        wrong);
}

}  // namespace

void out_of_process_suite(bool x86) {
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  refused_settings();
  {
    Setting setting(x86 ? nullptr : L"local");
    Wrappers w;
    Control* control = nullptr;
    if (bind_running(w, control, x86)) {
      round_trips(w.main.device, *control, "the processes");
      refused_call(w.main.device, "the processes");
      events(w, *control);
    }
    release_all(w, control);
    creation();
    concurrent_pairs();
  }
  setting_table(x86);
  if (SUCCEEDED(joined)) CoUninitialize();
}

}  // namespace wh
