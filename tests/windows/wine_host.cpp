// The Windows test host: loads EZJcomLib18.dll and JTrazelo.dll the way the
// JVM does (LoadLibrary, then GetProcAddress with the JNI names in the form the
// JVM of the machine looks up: decorated on 32-bit x86, plain on x86-64) and
// drives the natives with the JNIEnv of its own small VM (mini_jvm.h), against
// the simulated component registered in the real COM registry.
//
//   wine wine_host.exe [folder of the DLLs [Both|Apartment|OutOfProcess|OutOfProcess32]]
//
// The folder defaults to the program's; the second argument names the
// threading model the component was registered with (default Both): Both runs
// the checks of this file, on a component that lives in the callers'
// apartment; Apartment those of apartment_suite.cpp, across apartments;
// OutOfProcess and OutOfProcess32 those of out_of_process_suite.cpp, against
// the 64-bit or the 32-bit component in COM's surrogate. A third argument
// "high" (with Both) first takes the address space below 4 GiB and adds the
// checks of high_addresses.h. One line per check, then "N passed, N failed";
// exit status 0 only if all pass.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "high_addresses.h"
#include "host_classes.h"
#include "host_support.h"
#include "mini_jvm.h"
#include "scanmontura_sim.h"

namespace {

using namespace wh;

// ---- the component, through its test interface ----

ISimControl* g_sim = nullptr;

SimCallRecord last_call() {
  SimCallRecord r{};
  g_sim->GetLastCall(&r);
  return r;
}

// Waits until the component has fired every queued event; a wait the
// component refuses fails the suite (what follows would read a half state).
void wait_idle() {
  const HRESULT hr = g_sim->WaitIdle(0xFFFFFFFF);
  if (hr != S_OK) check(false, "WaitIdle", hex(static_cast<unsigned long>(hr)));
}

void override_result(DISPID dispid, const VARIANT* v) { g_sim->OverrideResult(dispid, v, S_OK); }

// ---- threads ----

// A thread that signals handles[0] once it runs, then waits for handles[1].
DWORD WINAPI start_then_wait(LPVOID p) {
  auto* handles = static_cast<HANDLE*>(p);
  SetEvent(handles[0]);
  WaitForSingleObject(handles[1], INFINITE);
  return 0;
}

std::wstring folder_of_program() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/"));
}

// ---- 1. the libraries under the real loader ----

void runtime_finds_the_vm() {
  // Before anything has told the runtime of the VM, a native thread asks for
  // its environment: the runtime finds the VM through the program's
  // JNI_GetCreatedJavaVMs and attaches the thread; the thread's end detaches it.
  auto get_env = runtime_function<JNIEnv*(__cdecl*)()>("ezjcomGetJniEnv");
  const mjvm::Accounts before = Vm::instance().accounts();
  bool own_env = false;
  on_new_thread([&] {
    JNIEnv* e = get_env();
    JNIEnv* mine = nullptr;
    Vm::instance().java_vm()->GetEnv(reinterpret_cast<void**>(&mine), JNI_VERSION_1_8);
    own_env = e && e == mine && e != Vm::instance().main_env();
  });
  const mjvm::Accounts after = Vm::instance().accounts();
  check(own_env && after.daemonAttaches == before.daemonAttaches + 1,
        "the runtime finds the VM through the program's JNI_GetCreatedJavaVMs and attaches a "
        "native thread as a daemon");
  check(after.detaches == before.detaches + 1 && after.threadsAttached == 0 &&
            runtime_attached_threads() == 0,
        "the runtime detaches the thread it attached when that thread ends (DLL_THREAD_DETACH)");
}

void dll_main_sequence(const std::wstring& folder) {
  journal_reset();
  g_bridge = LoadLibraryW((folder + L"\\JTrazelo.dll").c_str());
  check(g_bridge != nullptr, "LoadLibrary(JTrazelo.dll) with EZJcomLib18.dll loaded first",
        "error " + std::to_string(GetLastError()));
  if (!g_bridge) return;

  const std::vector<std::string> expected = {
      "ezjcomInitDLL18 1", std::string("ezjcomIidMapTypes 1 ") + kIidText + " puente/IScanMontura"};
  const std::vector<std::string> at_load = journal();
  check(at_load == expected,
        "process attach calls ezjcomInitDLL18(1), then ezjcomIidMapTypes with the one entry",
        joined(at_load));
  auto map_class = runtime_function<const char*(__cdecl*)(const IID*)>("ezjcomTestIidMapClass");
  const char* mapped = map_class(&kIidIScanMontura);
  check(mapped && std::strcmp(mapped, "puente/IScanMontura") == 0,
        "the runtime holds the map entry under the IID's 16 bytes");

  // A thread started now: one ezjcomInitThread(null) at its attach, nothing at its detach.
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE handles[2] = {started, go};
  HANDLE t = CreateThread(nullptr, 0, start_then_wait, handles, 0, nullptr);
  WaitForSingleObject(started, INFINITE);
  const std::vector<std::string> attached = journal();
  SetEvent(go);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  CloseHandle(started);
  CloseHandle(go);
  const std::vector<std::string> ended = journal();
  std::vector<std::string> with_thread = expected;
  with_thread.push_back("ezjcomInitThread null");
  check(attached == with_thread, "a thread created after the load: one ezjcomInitThread(null)",
        joined(attached));
  check(ended == attached, "thread detach calls nothing", joined(ended));

  // Every native under the name the JVM looks up, and no other form.
  std::vector<std::string> absent;
  int found = 0;
  auto lookup = [&](const std::string& name, int bytes) {
    const std::string wanted = jvm_export_name(name, bytes);
    if (GetProcAddress(g_bridge, wanted.c_str()))
      ++found;
    else
      absent.push_back(wanted);
    for (const std::string& other : other_export_names(name, bytes))
      if (GetProcAddress(g_bridge, other.c_str())) absent.push_back("also exported: " + other);
  };
#define JTZ_WH_SIG_Bool "Z"
#define JTZ_WH_SIG_Byte "B"
#define JTZ_WH_SIG_Short "S"
#define JTZ_WH_SIG_Int "I"
#define JTZ_WH_SIG_MachineInt "I"
#define JTZ_WH_SIG_String "Ljava_lang_String_2"
#define JTZ_WH_SIG_Color "Ljava_awt_Color_2"
#define JTZ_WH_SIG_TxFormBorderStyle "Lpuente_TxFormBorderStyle_2"
#define JTZ_WH_SIG_TxEditCharCase "Lpuente_TxEditCharCase_2"
#define JTZ_WH_SIG_TxDragMode "Lpuente_TxDragMode_2"
#define JTZ_WH_SIG_TxImeMode "Lpuente_TxImeMode_2"
#define JTZ_WH_MEMBER "Java_puente_IScanMontura_"
#define GETTER(Name, Dispid, Kind) lookup(JTZ_WH_MEMBER "get" #Name, 8);
#define SETTER(Name, Dispid, Kind) lookup(JTZ_WH_MEMBER "set" #Name "__" JTZ_WH_SIG_##Kind, 12);
#define PROPERTY(Name, Dispid, Kind) GETTER(Name, Dispid, Kind) SETTER(Name, Dispid, Kind)
#define METHOD(Name, Dispid, Result) lookup(JTZ_WH_MEMBER #Name, 8);
#define METHOD1(Name, Dispid, Result, A) lookup(JTZ_WH_MEMBER #Name "__" JTZ_WH_SIG_##A, 12);
#define METHOD2(Name, Dispid, Result, A, B) \
  lookup(JTZ_WH_MEMBER #Name "__" JTZ_WH_SIG_##A JTZ_WH_SIG_##B, 16);
#include "members.def"
#define NATIVE(Class, JniName, Bytes) lookup(#JniName, Bytes);
#include "natives.def"
  check(found == 93 && absent.empty(),
#ifdef _WIN64
        "GetProcAddress finds all 93 natives by their plain names, and no decorated form",
#else
        "GetProcAddress finds all 93 natives by _Name@bytes, and no undecorated form",
#endif
        std::to_string(found) + " found; " + joined(absent));
  bool hooks = false;
  for (const char* name : {"JNI_OnLoad", "_JNI_OnLoad@8", "JNI_OnUnload", "_JNI_OnUnload@8"})
    hooks = hooks || GetProcAddress(g_bridge, name);
  check(!hooks, "no JNI_OnLoad or JNI_OnUnload");
}

// ---- 2. creation and binding ----

struct Wrappers {
  jobject component = nullptr;  // puente.ScanMontura, a new instance
  jobject active = nullptr;     // puente.ScanMontura, the running instance
  jobject device = nullptr;     // puente.IScanMontura
  jobject events = nullptr;     // puente.IScanMonturaEvents (bound through IDispatch)
};

bool create_and_bind(Wrappers& w) {
  jstring guid = native<jstring>("Java_puente_ScanMontura__1_1JComGetGUID",
                                 ref(Vm::instance().find("puente/ScanMontura")->mirror));
  check(Vm::instance().utf8(deref(guid)) == kClsidText, "__JComGetGUID gives the CLSID's text");

  const bool loaded_before = GetModuleHandleW(L"ScanMonturaSim.dll") != nullptr;
  w.component = ref(new_instance("puente/ScanMontura"));
  const jboolean created = native<jboolean>("Java_puente_ScanMontura__1_1JComCreateObject__ZZ",
                                            w.component, jboolean{0}, jboolean{0});
  const std::string exception = take_exception();
  IUnknown* unknown = pointer<IUnknown>(deref(w.component), "comId");
  if (unknown) unknown->QueryInterface(IID_ISimControl, reinterpret_cast<void**>(&g_sim));
  check(created && exception.empty() && g_sim && !loaded_before &&
            GetModuleHandleW(L"ScanMonturaSim.dll") != nullptr &&
            journal_of("ezjcomCreateInstance") ==
                std::vector<std::string>{std::string("ezjcomCreateInstance ") + kClsidText},
        "__JComCreateObject creates the registered component through CoCreateInstance", exception);
  if (!g_sim) return false;

  // What regsvr32 wrote: the module as the class's in-process server, both models.
  wchar_t server[MAX_PATH] = L"", model[32] = L"", loaded[MAX_PATH] = L"";
  DWORD server_size = sizeof server, model_size = sizeof model;
  const wchar_t key[] = L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}\\InprocServer32";
  const bool registered = RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr,
                                       server, &server_size) == ERROR_SUCCESS &&
                          RegGetValueW(HKEY_CLASSES_ROOT, key, L"ThreadingModel", RRF_RT_REG_SZ,
                                       nullptr, model, &model_size) == ERROR_SUCCESS;
  GetModuleFileNameW(GetModuleHandleW(L"ScanMonturaSim.dll"), loaded, MAX_PATH);
  check(registered && lstrcmpiW(server, loaded) == 0 && std::wstring(model) == L"Both",
        "DllRegisterServer: InprocServer32 is the loaded module, ThreadingModel Both");

  w.active = ref(new_instance("puente/ScanMontura"));
  const jboolean found = native<jboolean>("Java_puente_ScanMontura__1_1JComCreateObject__ZZ",
                                          w.active, jboolean{1}, jboolean{0});
  check(found && take_exception().empty() && pointer<IUnknown>(deref(w.active), "comId") == unknown,
        "__JComCreateObject(true, false) finds it in the running object table");
  jobject attached = ref(new_instance("puente/ScanMontura"));
  const jboolean either = native<jboolean>("Java_puente_ScanMontura__1_1JComCreateObject__ZZ",
                                           attached, jboolean{0}, jboolean{1});
  IUnknown* running = pointer<IUnknown>(deref(attached), "comId");
  check(either && take_exception().empty() && running == unknown,
        "__JComCreateObject(false, true) attaches to the running instance");
  if (running) running->Release();
  deref(attached)->set_int("comId", 0);

  w.device = ref(new_instance("puente/IScanMontura"));
  const jboolean bound =
      native<jboolean>("Java_puente_IScanMontura__1_1JComLoad__Lezjcom_JComObject_2Z", w.device,
                       w.component, jboolean{0});
  check(bound && take_exception().empty() && deref(w.device)->get_int("comId") != 0,
        "IScanMontura.__JComLoad binds the IScanMontura interface");

  w.events = ref(new_instance("puente/IScanMonturaEvents"));
  const jboolean strict =
      native<jboolean>("Java_puente_IScanMonturaEvents__1_1JComLoad__Lezjcom_JComObject_2Z",
                       w.events, w.component, jboolean{0});
  const std::string strict_exception = take_exception();
  const jboolean fallback =
      native<jboolean>("Java_puente_IScanMonturaEvents__1_1JComLoad__Lezjcom_JComObject_2Z",
                       w.events, w.component, jboolean{1});
  check(!strict && strict_exception.empty() && fallback && deref(w.events)->get_int("comId") != 0,
        "IScanMonturaEvents.__JComLoad: false without IDispatch fallback, bound with it",
        strict_exception);
  return bound;
}

// ---- 3. values through real oleaut32 ----

void round_trips(jobject dev) {
  // Colours first: the component starts with the system colour "window".
  Object* white = deref(member<jobject>("getColor", dev));
  check(
      white && white->get_int("value") == static_cast<jint>(0xFFFFFFFF) && take_exception().empty(),
      "getColor: system colour 0x80000005 through OleTranslateColor is COLOR_WINDOW (0xFFFFFF)",
      white ? hex(static_cast<unsigned long>(white->get_int("value"))) : "null");
  member<void>("setColor__Ljava_awt_Color_2", dev, ref(wh::new_color(0x12, 0x34, 0x56)));
  const SimCallRecord put = last_call();
  Object* back = deref(member<jobject>("getColor", dev));
  check(put.args[0].vt == VT_I4 && put.args[0].lVal == 0x563412 && back &&
            back->get_int("value") == static_cast<jint>(0xFF123456),
        "setColor sends 0x00BBGGRR as VT_I4; getColor gives the colour back",
        hex(static_cast<unsigned long>(put.args[0].lVal)));
  const ULONG calls = last_call().calls;
  member<void>("setColor__Ljava_awt_Color_2", dev, jobject{nullptr});
  check(take_exception() == "java/lang/NullPointerException: Argument 1 is null" &&
            last_call().calls == calls,
        "setColor(null): NullPointerException \"Argument 1 is null\", no call");

  // Strings: UTF-16 both ways, a surrogate pair and an empty string included.
  const std::u16string text = u"Trazo \u00F1 \u20AC \U0001F600";
  member<void>("setText__Ljava_lang_String_2", dev, jstr(text));
  const SimCallRecord text_put = last_call();
  const bool put_ok = text_put.args[0].vt == VT_BSTR && text_put.cNamedArgs == 1 &&
                      text_put.named[0] == DISPID_PROPERTYPUT && text_put.dispid == -517;
  const std::u16string got = chars(member<jstring>("getText", dev));
  member<void>("setText__Ljava_lang_String_2", dev, jstr(u""));
  const std::u16string empty = chars(member<jstring>("getText", dev));
  check(put_ok && got == text && empty.empty() && take_exception().empty(),
        "setText/getText: a BSTR of the string's UTF-16 (DISPID_TEXT, named DISPID_PROPERTYPUT)");

  // Booleans: VARIANT_TRUE out; any of the 16 bits set reads as true.
  member<void>("setAutoSelect__Z", dev, jboolean{0});
  const bool off = !member<jboolean>("getAutoSelect", dev) && last_call().args[0].boolVal == 0;
  member<void>("setAutoSelect__Z", dev, jboolean{1});
  const SimCallRecord on_put = last_call();
  const bool on = on_put.args[0].vt == VT_BOOL && on_put.args[0].boolVal == VARIANT_TRUE &&
                  member<jboolean>("getAutoSelect", dev);
  bool bits = true;
  VARIANT v;
  for (int bit = 0; bit < 16; ++bit) {
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = static_cast<VARIANT_BOOL>(1u << bit);
    override_result(1, &v);
    bits = bits && member<jboolean>("getAutoSelect", dev) == JNI_TRUE;
  }
  v.boolVal = 0;
  override_result(1, &v);
  bits = bits && member<jboolean>("getAutoSelect", dev) == JNI_FALSE;
  override_result(1, nullptr);
  check(off && on && bits, "booleans: VARIANT_TRUE/FALSE out, every one of 16 bits reads as true");

  // Bytes keep their sign through VT_UI1; shorts and ints go whole.
  bool bytes = true;
  for (int b : {-128, -86, -1, 0, 1, 127}) {
    member<void>("setPasswordChar__B", dev, static_cast<jbyte>(b));
    const SimCallRecord r = last_call();
    bytes = bytes && r.args[0].vt == VT_UI1 && r.args[0].bVal == static_cast<BYTE>(b) &&
            member<jbyte>("getPasswordChar", dev) == b;
  }
  member<void>("setPasswordChar__B", dev, jbyte{0});
  check(bytes, "bytes: sent as VT_UI1 with their bits, read back with their sign (-128..127)");
  bool shorts = true;
  for (int s : {-32768, -12, 0, 32767}) {
    member<void>("setCursor__S", dev, static_cast<jshort>(s));
    shorts = shorts && last_call().args[0].vt == VT_I2 && member<jshort>("getCursor", dev) == s;
  }
  member<void>("setCursor__S", dev, jshort{0});
  member<void>("setMaxLength__I", dev, jint{2147483647});
  const bool ints =
      last_call().args[0].vt == VT_I4 && member<jint>("getMaxLength", dev) == 2147483647;
  member<void>("setMaxLength__I", dev, jint{0});
  check(shorts && ints, "shorts as VT_I2 (-32768..32767), ints as VT_I4 (2147483647)");

  member<jint>("GetSelTextBuf__BI", dev, jbyte{0x41}, jint{7});
  const SimCallRecord buf = last_call();
  check(buf.cArgs == 2 && buf.cNamedArgs == 0 && buf.args[0].vt == VT_I4 && buf.args[0].lVal == 7 &&
            buf.args[1].vt == VT_UI1 && buf.args[1].bVal == 0x41,
        "GetSelTextBuf(b, n): n in rgvarg[0] as VT_I4, b in rgvarg[1] as VT_UI1");

  member<void>("setOjo__I", dev, jint{2});
  const SimCallRecord eye = last_call();
  member<void>("setVelocidad__I", dev, jint{10});
  const SimCallRecord speed = last_call();
  check(eye.args[0].vt == VT_INT && eye.args[0].intVal == 2 && speed.args[0].vt == VT_INT &&
            speed.args[0].intVal == 10 && take_exception().empty(),
        "setOjo and setVelocidad send VT_INT");

  // Floats from a scan of the simulated tracer, and through result coercion.
  member<void>("setOjo__I", dev, jint{1});
  member<void>("setPuertoComm__S", dev, jshort{1});
  member<void>("Explora", dev);
  const std::string scan_exception = take_exception();
  wait_idle();
  const jint status = member<jint>("getStatus", dev);
  const jfloat box_h = member<jfloat>("getBoxH", dev);
  const jfloat perimeter = member<jfloat>("getPerimetro", dev);
  const std::u16string deltas = chars(member<jstring>("getRadioDeltas", dev));
  check(scan_exception.empty() && status == 200 && box_h > 0.0f && perimeter > box_h &&
            deltas.rfind(u"400;", 0) == 0,
        "a scan: status 200, getBoxH and getPerimetro positive floats, 400 radius deltas",
        scan_exception + " status " + std::to_string(status));
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = 12.5f;
  override_result(51, &v);
  const jfloat exact = member<jfloat>("getBoxH", dev);
  v.vt = VT_R8;
  v.dblVal = 3.25;
  override_result(52, &v);
  const jfloat coerced = member<jfloat>("getBoxV", dev);
  override_result(51, nullptr);
  override_result(52, nullptr);
  check(exact == 12.5f && coerced == 3.25f && take_exception().empty(),
        "getBoxH reads fltVal; a VT_R8 result is coerced by VariantChangeType (getBoxV)");

  // Enumerations: the integer out, the constant back; a value without a constant.
  member<void>("setBorderStyle__Lpuente_TxFormBorderStyle_2", dev,
               ref(wh::enum_constant("puente/TxFormBorderStyle", 3)));
  const SimCallRecord style = last_call();
  Object* back_style = deref(member<jobject>("getBorderStyle", dev));
  member<void>("setImeMode__Lpuente_TxImeMode_2", dev,
               ref(wh::enum_constant("puente/TxImeMode", 11)));
  Object* back_ime = deref(member<jobject>("getImeMode", dev));
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 99;
  override_result(3, &v);
  jobject none = member<jobject>("getBorderStyle", dev);
  const std::string unknown = take_exception();
  override_result(3, nullptr);
  check(style.args[0].vt == VT_I4 && style.args[0].lVal == 3 &&
            back_style == wh::enum_constant("puente/TxFormBorderStyle", 3) &&
            back_ime == wh::enum_constant("puente/TxImeMode", 11) && !none &&
            unknown.rfind("java/lang/IllegalArgumentException", 0) == 0,
        "enumerations: value() as VT_I4, fromValue() back; an unknown value raises and gives null",
        unknown);
}

// ---- 4. failures ----

void failures(jobject dev) {
  member<void>("setVelocidad__I", dev, jint{99});
  Object* e = take_throwable();
  const bool range =
      e && e->cls->name == "ezjcom/JComException" &&
      static_cast<unsigned long>(e->get_int("hResult")) == 0x80070057ul &&
      Vm::instance().utf8(e->get_obj("description")) == "Velocidad: 99 is out of range (1 to 10)" &&
      Vm::instance().utf8(e->get_obj("comSource")) == "ScanMontura";
  check(range,
        "a refused put raises ezjcom/JComException with E_INVALIDARG, the source and description",
        e ? e->cls->name + " " + hex(static_cast<unsigned long>(e->get_int("hResult"))) + " " +
                e->message
          : "no exception");

  g_sim->FailMember(57, E_FAIL, L"device unplugged");
  const jint status = member<jint>("getStatus", dev);
  e = take_throwable();
  g_sim->FailMember(57, S_OK, nullptr);
  check(status == 0 && e && e->cls->name == "ezjcom/JComException" &&
            static_cast<unsigned long>(e->get_int("hResult")) == 0x80004005ul &&
            Vm::instance().utf8(e->get_obj("description")) == "device unplugged",
        "a failing get raises the component's HRESULT and description and returns 0");

  jobject unbound = ref(new_instance("puente/IScanMontura"));
  member<jstring>("getText", unbound);
  check(take_exception() == "java/lang/NullPointerException: Uninitialized JComObject",
        "an unbound wrapper: NullPointerException \"Uninitialized JComObject\"");
}

// ---- 5. events through a real connection point ----

std::vector<std::string> deliveries(bool* off_main = nullptr) {
  std::vector<std::string> out;
  for (const wh::Delivery& d : wh::recorder().take()) {
    out.push_back(d.what);
    if (off_main && d.thread == std::this_thread::get_id()) *off_main = false;
  }
  return out;
}

void events(const Wrappers& w) {
  Vm& vm = Vm::instance();
  const std::string advise = "Java_ezjcom_JComObject__1_1JComAdvise";
  const std::string unadvise = "Java_ezjcom_JComObject__1_1JComUnadvise";

  jobject listener = ref(new_instance(wh::kListenerClass));
  const jboolean made =
      native<jboolean>("Java_puente_IScanMonturaEvents__1_1JComEventListenerInit", listener);
  const jint cookie = call_in<jint>(g_runtime, advise, w.component, listener);
  ULONG connections = 0;
  g_sim->ConnectionCount(&connections);
  check(made && deref(listener)->get_int("eventId") != 0 && cookie != 0 && connections == 1 &&
            take_exception().empty(),
        "__JComEventListenerInit makes a sink; the runtime's __JComAdvise connects it");

  const long daemons = vm.accounts().daemonAttaches;
  g_sim->Click();
  wait_idle();
  bool off_main = true;
  const std::vector<std::string> click = deliveries(&off_main);
  check(click == std::vector<std::string>{"OnClick"} && off_main &&
            vm.accounts().daemonAttaches > daemons,
        "OnClick reaches the listener on the component's thread, attached by the runtime",
        joined(click));

  member<void>("setText__Ljava_lang_String_2", w.device, jstr(u""));
  wait_idle();
  deliveries();
  g_sim->TypeText(L"ab#x");
  wait_idle();
  const std::vector<std::string> typed = deliveries();
  const std::vector<std::string> expected = {
      "OnKeyPress 97", "OnChange",
      "OnKeyPress 98", "OnChange",
      "OnKeyPress 35", "JComOnEventException OnKeyPress java/lang/IllegalStateException",
      "OnChange",      "OnKeyPress 120"};
  const std::u16string text = chars(member<jstring>("getText", w.device));
  check(typed == expected && text == u"AB#",
        "OnKeyPress by reference: keys changed and swallowed by the listener reach the control; "
        "a listener's exception reaches JComOnEventException",
        joined(typed) + " text " + vm.utf8(vm.new_string(text)));

  // Events from several new threads at once: each is registered at its
  // attach (DllMain), attached by the runtime, and detached at its end.
  const std::size_t registered = journal_of("ezjcomInitThread").size();
  const long attaches = vm.accounts().daemonAttaches;
  ULONG delivered = 0;
  g_sim->FireBurst(2, 4, 25, &delivered);
  const std::vector<std::string> burst = deliveries();
  const bool all_clicks =
      burst.size() == 100 &&
      std::all_of(burst.begin(), burst.end(), [](const std::string& d) { return d == "OnClick"; });
  check(delivered == 100 && all_clicks && journal_of("ezjcomInitThread").size() >= registered + 4 &&
            vm.accounts().daemonAttaches >= attaches + 4,
        "100 events from 4 threads at once: all delivered, each thread registered and attached",
        std::to_string(burst.size()) + " delivered");

  g_sim->DblClick();
  wait_idle();
  const std::vector<std::string> missing = deliveries();
  check(missing == std::vector<std::string>{"JComOnEventError OnDblClick Unable to locate method"},
        "an event the listener has no method for reaches JComOnEventError", joined(missing));

  // Server-side delivery: __RemoteEventAdd advises a sink of its own.
  const std::size_t advised = journal_of("__JComAdvise").size();
  jobject refused = native<jobject>("Java_puente_ScanMontura__1_1RemoteEventAdd", w.component,
                                    jstr(u"puente/IScanMonturaEvents"));
  check(!refused && take_exception().empty() && journal_of("__JComAdvise").size() == advised,
        "__RemoteEventAdd with another name: null, no exception, no advise");
  Object* pair = deref(native<jobject>("Java_puente_ScanMontura__1_1RemoteEventAdd", w.component,
                                       jstr(u"puente.IScanMonturaEvents")));
  Object* remote = pair && pair->elements.size() == 2 ? pair->elements[0] : nullptr;
  Object* boxed = pair && pair->elements.size() == 2 ? pair->elements[1] : nullptr;
  const jint remote_cookie = boxed ? boxed->get_int("value") : 0;
  check(remote && remote->cls->name == "ezjcom/JComEventListener" &&
            remote->get_int("eventId") != 0 && boxed && boxed->cls->name == "java/lang/Integer" &&
            remote_cookie != 0 && remote_cookie != cookie && take_exception().empty(),
        "__RemoteEventAdd returns [JComEventListener with a sink, Integer cookie]");
  g_sim->Click();
  wait_idle();
  const std::vector<std::string> both = deliveries();
  check(both ==
            std::vector<std::string>{"OnClick", "server-side puente.IScanMonturaEvents OnClick 0"},
        "server-side delivery: OnServerSideEvent (cdecl, variadic) reaches __JComServerSideEvent",
        joined(both));

  // Disconnecting gives up the sinks: their global references go.
  call_in<void>(g_runtime, unadvise, w.component, listener, cookie);
  const std::string first = take_exception();
  call_in<void>(g_runtime, unadvise, w.component, ref(remote), remote_cookie);
  const std::string second = take_exception();
  g_sim->ConnectionCount(&connections);
  check(first.empty() && second.empty() && connections == 0 &&
            deref(listener)->get_int("eventId") == 0 &&
            vm.accounts().globalsLive == runtime_held_global_refs(),
        "the runtime's __JComUnadvise disconnects both; the sinks delete their global references",
        first + second);
}

// A component that fires the OnChange of a call inside it
// (SCANMONTURA_SIM_EVENTS=in-call while it is created), in the callers'
// apartment: the event has reached the listener when setText returns, on the
// calling thread itself (a Java thread in no apartment, the runtime's calls
// made there in the MTA).
void events_in_call() {
  SetEnvironmentVariableW(L"SCANMONTURA_SIM_EVENTS", L"in-call");
  jobject component = ref(new_instance("puente/ScanMontura"));
  const jboolean created = native<jboolean>("Java_puente_ScanMontura__1_1JComCreateObject__ZZ",
                                            component, jboolean{0}, jboolean{0});
  SetEnvironmentVariableW(L"SCANMONTURA_SIM_EVENTS", nullptr);
  jobject device = ref(new_instance("puente/IScanMontura"));
  const jboolean bound =
      created && native<jboolean>("Java_puente_IScanMontura__1_1JComLoad__Lezjcom_JComObject_2Z",
                                  device, component, jboolean{0});
  jobject listener = ref(new_instance(wh::kListenerClass));
  native<jboolean>("Java_puente_IScanMonturaEvents__1_1JComEventListenerInit", listener);
  const jint cookie =
      call_in<jint>(g_runtime, "Java_ezjcom_JComObject__1_1JComAdvise", component, listener);
  std::string exception = take_exception();
  member<void>("setText__Ljava_lang_String_2", device, jstr(u"in call"));
  bool off_main = true;
  const std::vector<std::string> seen = deliveries(&off_main);  // no wait
  call_in<void>(g_runtime, "Java_ezjcom_JComObject__1_1JComUnadvise", component, listener, cookie);
  exception += take_exception();
  check(created && bound && cookie != 0 && exception.empty() &&
            seen == std::vector<std::string>{"OnChange"} && !off_main,
        "OnChange fired inside setText has reached the listener when the call returns, on the "
        "calling thread",
        exception + joined(seen));
  for (jobject o : {device, component}) {
    if (IUnknown* p = pointer<IUnknown>(deref(o), "comId")) p->Release();
    deref(o)->set_int("comId", 0);
  }
}

// ---- 6. the end ----

void release(Object* wrapper) {
  if (IUnknown* p = pointer<IUnknown>(wrapper, "comId")) p->Release();
  wrapper->set_int("comId", 0);
}

void teardown(const Wrappers& w) {
  // The bound pointers were handed over with a reference each; giving them
  // back ends the component and its threads.
  if (g_sim) g_sim->Release();
  g_sim = nullptr;
  for (jobject o : {w.component, w.active, w.device, w.events})
    if (o) release(deref(o));
  const mjvm::Accounts a = Vm::instance().accounts();
  check(a.threadsAttached == 0 && a.attaches == a.detaches && runtime_attached_threads() == 0,
        "every thread the runtime attached was detached when it ended",
        std::to_string(a.attaches) + " attached, " + std::to_string(a.detaches) + " detached");
  final_checks();
}

}  // namespace

namespace wh {

void final_checks() {
  const mjvm::Accounts a = Vm::instance().accounts();
  const long held = runtime_held_global_refs();
  const long heldWeak = runtime_held_weak_refs();
  check(a.globalsMade > 0 && a.globalsLive == held && a.weaksLive == heldWeak,
        "every global reference made was deleted, weak ones too, but those the runtime keeps",
        std::to_string(a.globalsMade) + " made, " + std::to_string(a.globalsLive) + " live (" +
            std::to_string(held) + " kept by the runtime), " + std::to_string(a.weaksLive) +
            " weak live (" + std::to_string(heldWeak) + " kept)");
  check(a.charsOutstanding == 0, "every Get*Chars was released");
  check(g_missing.empty(), "every native called was found", joined(g_missing));
  check(Vm::instance().violations().empty(), "no JNI misuse", joined(Vm::instance().violations()));

  const std::vector<std::string> before = journal();
  const BOOL freed = FreeLibrary(g_bridge);
  g_bridge = nullptr;
  check(freed && GetModuleHandleW(L"JTrazelo.dll") == nullptr && journal() == before,
        "process detach (FreeLibrary) calls nothing");
}

}  // namespace wh

namespace {
using namespace wh;
}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Before anything of the bridge is loaded or made.
  const bool high = argc > 3 && std::wstring(argv[3]) == L"high";
  if (high) take_low_address_space();
  Vm& vm = Vm::instance();  // the main thread is the VM's
  wh::define_classes(vm);
  const std::wstring folder = argc > 1 ? argv[1] : folder_of_program();
  const std::wstring model = argc > 2 ? argv[2] : L"Both";

  // As ezjcom.JComObject's static initializer does, before JTrazelo.
  g_runtime = LoadLibraryW((folder + L"\\EZJcomLib18.dll").c_str());
  check(g_runtime != nullptr, "LoadLibrary(EZJcomLib18.dll)",
        "error " + std::to_string(GetLastError()));
  if (g_runtime) {
    runtime_finds_the_vm();
    dll_main_sequence(folder);
  }
  if (g_bridge && model == L"Apartment") {
    apartment_suite();
    final_checks();
  } else if (g_bridge && (model == L"OutOfProcess" || model == L"OutOfProcess32")) {
    out_of_process_suite(model == L"OutOfProcess32");
    final_checks();
  } else if (g_bridge) {
    Wrappers w;
    if (create_and_bind(w)) {
      if (high) check_high_addresses(w.component, w.device, w.events);
      round_trips(w.device);
      failures(w.device);
      events(w);
      events_in_call();
      listener_in_the_callers_apartment();
      nested_waits_in_a_single_threaded_caller();
      if (high) check_stale_and_forged_values();
    }
    teardown(w);
  }
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
