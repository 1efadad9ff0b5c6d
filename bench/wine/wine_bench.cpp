// Member calls through real COM under Wine: the bridge's natives (getBoxH, a
// float property get, and setText, a string put) against IDispatch::Invoke on
// the same component, from a thread in the multithreaded apartment (MTA) and
// from one in a single-threaded apartment (STA).
//
//   wine wine_bench.exe <folder of the DLLs> Both|Apartment|OutOfProcess [rounds [target-ms]]
//   (wine64 for the 64-bit build: run.sh x64; OutOfProcess is 64-bit only)
//
// The DLLs are loaded as the JVM loads them (EZJcomLib18.dll, then
// JTrazelo.dll) and the natives are driven by the small JVM of the Windows
// test host (tests/windows/mini_jvm.h), each call in a frame of its own as the
// JVM makes one. The component must be registered with the threading model
// named (regsvr32, see run.sh):
//   Both       it lives in the MTA with its callers: the natives against a
//              direct Invoke on the same pointer, both from an MTA thread;
//              and getBoxH from an STA thread, which the runtime hands to its
//              own MTA thread: what handing a call over costs;
//   Apartment  COM hosts it in an STA of its own and the runtime holds a proxy:
//              from an MTA thread, the natives against Invoke on that proxy;
//              from an STA thread (which the runtime hands each call to its own
//              MTA thread for), the natives against Invoke on a proxy of the
//              STA thread's own, unmarshaled from the Global Interface Table;
//   OutOfProcess  registered "Both", with the AppID of COM's DLL surrogate
//              (jtrazelo-surrogate.cmd register /64): the program asks the
//              runtime for a local server (EZJCOM_SERVER=local), COM hosts
//              the component in the surrogate, another process, and the
//              runtime holds a proxy: from an MTA thread, the natives against
//              Invoke on that proxy.
// Each case runs on a thread that stays in its apartment for the whole run.
// Every case is calibrated to about target-ms of wall-clock time per round
// (default 100), in 10 batches; a round takes the cases in turn batch after
// batch, and each ratio is taken per round from the two cases' batch medians.
// The table gives medians over the rounds (default 11). Exit status 0 only if
// every call succeeded.
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "host_classes.h"
#include "host_support.h"
#include "mini_jvm.h"
#include "runtime.h"

namespace {

using namespace wh;

using GetFloat = jfloat(JNICALL*)(JNIEnv*, jobject);
using SetString = void(JNICALL*)(JNIEnv*, jobject, jstring);

constexpr DISPID kDispidBoxH = 51;
constexpr DISPID kDispidText = -517;  // DISPID_TEXT
const char16_t kText[] = u"Hello";

[[noreturn]] void fail(const std::string& what) {
  std::printf("FAIL %s\n", what.c_str());
  std::fflush(stdout);
  std::exit(1);
}

template <class Fn>
Fn bridge_native(const char* decorated) {
  FARPROC p = GetProcAddress(g_bridge, decorated);
  if (!p) fail(std::string("JTrazelo.dll has no export ") + decorated);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}

// The interface pointer the runtime holds for wrapper's binding, through the
// shipped runtime's own export (the one the bridge reads a com-id with): the
// pointer itself in a 32-bit process, the handle's object in a 64-bit one. The
// binding stays open until the wrapper is released, and with it the pointer.
IDispatch* held_pointer(jobject wrapper) {
  using Enter = int(EZJCOM_CALL*)(JNIEnv*, jobject, EzjcomComUse*);
  using Leave = void(EZJCOM_CALL*)(EzjcomComUse*);
  auto enter = reinterpret_cast<Enter>(
      reinterpret_cast<void*>(GetProcAddress(g_runtime, "ezjcomEnterComId")));
  auto leave = reinterpret_cast<Leave>(
      reinterpret_cast<void*>(GetProcAddress(g_runtime, "ezjcomLeaveComId")));
  if (!enter || !leave) fail("EZJcomLib18.dll has no ezjcomEnterComId or ezjcomLeaveComId");
  EzjcomComUse use{};
  if (enter(env(), wrapper, &use) != EZJCOM_USE_OK) fail("ezjcomEnterComId");
  auto* held = static_cast<IDispatch*>(use.object);
  leave(&use);
  return held;
}

double seconds_per_tick() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1.0 / static_cast<double>(f.QuadPart);
}

double now_ticks() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart);
}

// ---- threads that keep their apartment ----

// A thread in the MTA or in an STA of its own, attached to the host's VM for
// its whole life, that runs the jobs handed to it one at a time. While an STA
// thread waits for its next job it dispatches its messages, as a GUI thread does.
class Worker {
 public:
  explicit Worker(DWORD coinit) : coinit_(coinit) {
    ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    go_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, main, this, 0, nullptr);
    WaitForSingleObject(ready_, INFINITE);
    if (init_ != S_OK) fail("CoInitializeEx on a worker thread: " + hex(init_));
  }
  ~Worker() {
    quit_ = true;
    SetEvent(go_);
    WaitForSingleObject(thread_, INFINITE);
    for (HANDLE h : {thread_, ready_, go_, done_}) CloseHandle(h);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Runs job on the thread and returns when it has run.
  void run(std::function<void()> job) {
    job_ = std::move(job);
    SetEvent(go_);
    WaitForSingleObject(done_, INFINITE);
  }
  bool sta() const { return coinit_ == COINIT_APARTMENTTHREADED; }

 private:
  static DWORD WINAPI main(LPVOID self) {
    static_cast<Worker*>(self)->loop();
    return 0;
  }
  void loop() {
    init_ = static_cast<unsigned long>(CoInitializeEx(nullptr, coinit_));
    {
      AttachedThread attached;
      SetEvent(ready_);
      for (;;) {
        wait_for_go();
        if (quit_) break;
        job_();
        SetEvent(done_);
      }
    }
    if (init_ == S_OK) CoUninitialize();
  }
  void wait_for_go() {
    if (!sta()) {
      WaitForSingleObject(go_, INFINITE);
      return;
    }
    for (;;) {
      const DWORD r = MsgWaitForMultipleObjectsEx(1, &go_, INFINITE, QS_ALLINPUT, 0);
      if (r == WAIT_OBJECT_0) return;
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }

  DWORD coinit_;
  unsigned long init_ = 0;
  volatile bool quit_ = false;
  HANDLE thread_ = nullptr, ready_ = nullptr, go_ = nullptr, done_ = nullptr;
  std::function<void()> job_;
};

// ---- the loops ----

// One Invoke as the runtime makes it for a member call: DISPPARAMS and
// EXCEPINFO zero-filled, the result set up with VariantInit and cleared after.
HRESULT invoke_once(IDispatch* d, DISPID dispid, WORD flags, VARIANT* args, UINT cArgs,
                    DISPID* named, UINT cNamed, VARIANT* result) {
  DISPPARAMS params{};
  params.rgvarg = args;
  params.cArgs = cArgs;
  params.rgdispidNamedArgs = named;
  params.cNamedArgs = cNamed;
  EXCEPINFO excep{};
  VariantInit(result);
  UINT argErr = 0;
  const HRESULT hr =
      d->Invoke(dispid, IID_NULL, GetUserDefaultLCID(), flags, &params, result, &excep, &argErr);
  VariantClear(result);
  return hr;
}

bool invoke_get_box_h(IDispatch* d, long n) {
  VARIANT result;
  bool ok = true;
  for (long i = 0; i < n; ++i)
    ok = invoke_once(d, kDispidBoxH, DISPATCH_PROPERTYGET, nullptr, 0, nullptr, 0, &result) ==
             S_OK &&
         ok;
  return ok;
}

// n puts of one BSTR made beforehand: the text the component already has, so
// that no OnChange is fired.
bool invoke_set_text(IDispatch* d, long n) {
  BSTR text = SysAllocString(reinterpret_cast<const OLECHAR*>(kText));
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = text;
  DISPID put = DISPID_PROPERTYPUT;
  VARIANT result;
  bool ok = true;
  for (long i = 0; i < n; ++i)
    ok = invoke_once(d, kDispidText, DISPATCH_PROPERTYPUT, &arg, 1, &put, 1, &result) == S_OK && ok;
  SysFreeString(text);
  return ok;
}

GetFloat g_get_box_h = nullptr;
SetString g_set_text = nullptr;

// The natives as the JVM calls them, each call in a frame of its own.
bool native_get_box_h(jobject device, long n) {
  Vm& vm = Vm::instance();
  JNIEnv* e = env();
  for (long i = 0; i < n; ++i) {
    vm.push_frame(e);
    g_get_box_h(e, device);
    vm.pop_frame(e, nullptr);
  }
  return take_exception().empty();
}

bool native_set_text(jobject device, jstring text, long n) {
  Vm& vm = Vm::instance();
  JNIEnv* e = env();
  for (long i = 0; i < n; ++i) {
    vm.push_frame(e);
    g_set_text(e, device, text);
    vm.pop_frame(e, nullptr);
  }
  return take_exception().empty();
}

// What the host's VM adds to every native call: its frame and the read of the
// wrapper's com-id field, which every member native makes.
bool host_frame(jobject device, long n) {
  Vm& vm = Vm::instance();
  JNIEnv* e = env();
  jclass cls = e->GetObjectClass(device);
  jfieldID com_id = e->GetFieldID(cls, "comId", "I");
  jint sum = 0;
  for (long i = 0; i < n; ++i) {
    vm.push_frame(e);
    sum += e->GetIntField(device, com_id);
    vm.pop_frame(e, nullptr);
  }
  return sum != 0 && take_exception().empty();
}

// A thread that answers each signal of `ping` with one of `pong`: the least
// a call handed to another thread and waited for costs, with the wait an STA
// thread makes (CoWaitForMultipleHandles, which also dispatches its messages).
class Echo {
 public:
  Echo() {
    ping_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    pong_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, main, this, 0, nullptr);
  }
  ~Echo() {
    quit_ = true;
    SetEvent(ping_);
    WaitForSingleObject(thread_, INFINITE);
    for (HANDLE h : {thread_, ping_, pong_}) CloseHandle(h);
  }
  Echo(const Echo&) = delete;
  Echo& operator=(const Echo&) = delete;

  bool round_trips(long n) {
    bool ok = true;
    for (long i = 0; i < n; ++i) {
      SetEvent(ping_);
      DWORD index = 0;
      ok = SUCCEEDED(CoWaitForMultipleHandles(0, INFINITE, 1, &pong_, &index)) && ok;
    }
    return ok;
  }

 private:
  static DWORD WINAPI main(LPVOID self) {
    auto* echo = static_cast<Echo*>(self);
    for (;;) {
      WaitForSingleObject(echo->ping_, INFINITE);
      if (echo->quit_) return 0;
      SetEvent(echo->pong_);
    }
  }

  HANDLE ping_ = nullptr, pong_ = nullptr, thread_ = nullptr;
  volatile bool quit_ = false;
};

// ---- cases, rounds, table ----

struct Case {
  std::string name;
  Worker* worker;
  std::function<bool(long)> body;
  long n = 0;                 // calls a batch
  std::vector<double> batch;  // ns per call of each batch of the current round
  std::vector<double> ns;     // per round: the median of its batches
};

// The batches of every case in one round: batches[case][batch], ns per call.
using RoundBatches = std::vector<std::vector<double>>;

struct Ratio {
  std::string name;
  size_t over;   // index of the measured case
  size_t under;  // index of its baseline
};

// Runs c.body(n) on its thread, timed there; ns per call.
double timed(Case& c, long n) {
  double start = 0, end = 0;
  bool ok = false;
  c.worker->run([&] {
    start = now_ticks();
    ok = c.body(n);
    end = now_ticks();
  });
  if (!ok) fail(c.name + ": a call failed");
  static const double tick = seconds_per_tick();
  return (end - start) * tick * 1e9 / static_cast<double>(n);
}

// Warms a case up and finds the count of calls that takes about target_ms.
void calibrate(Case& c, double target_ms) {
  long n = 4;
  for (;;) {
    const double ms = timed(c, n) * static_cast<double>(n) / 1e6;
    if (ms >= target_ms / 2 || n >= (1L << 24)) {
      c.n =
          std::max(1L, static_cast<long>(static_cast<double>(n) * target_ms / std::max(ms, 1e-3)));
      return;
    }
    n *= ms < target_ms / 16 ? 8 : 2;
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

std::string range_text(const std::vector<double>& v, const char* format) {
  const auto mm = std::minmax_element(v.begin(), v.end());
  char min[32], max[32];
  std::snprintf(min, sizeof min, format, *mm.first);
  std::snprintf(max, sizeof max, format, *mm.second);
  return std::string(min) + " .. " + max;
}

// A round takes the cases in turn, batch after batch (in reverse order every
// other batch, so that no case always follows the same one), so that the two
// cases of a ratio meet the same load from the rest of the machine (a call
// across apartments is several thread switches, each at the mercy of the
// scheduler). A case's figure for the round is the median of its batches; a
// ratio's is the median of the ratios of its two cases' batches of the same
// pass. Medians leave out the batches a preemption fell into.
void run_and_print(const char* title, std::vector<Case>& cases, const std::vector<Ratio>& ratios,
                   int rounds, double target_ms) {
  constexpr int kBatches = 10;
  for (Case& c : cases) calibrate(c, target_ms / kBatches);
  std::vector<RoundBatches> all;
  for (int r = 0; r < rounds; ++r) {
    for (int b = 0; b < kBatches; ++b) {
      for (size_t i = 0; i < cases.size(); ++i) {
        Case& c = cases[b % 2 ? cases.size() - 1 - i : i];
        c.batch.push_back(timed(c, c.n));
      }
    }
    all.emplace_back();
    for (Case& c : cases) {
      c.ns.push_back(median(c.batch));
      all.back().push_back(c.batch);
      c.batch.clear();
    }
  }

  std::printf("\n== %s\n%d rounds of %d batches, the cases in turn; wall-clock ns per call\n",
              title, rounds, kBatches);
  std::printf("%-46s %-6s %9s %20s %11s\n", "case", "thread", "median", "rounds min .. max",
              "calls/round");
  for (const Case& c : cases)
    std::printf("%-46s %-6s %9.0f %20s %11ld\n", c.name.c_str(), c.worker->sta() ? "STA" : "MTA",
                median(c.ns), range_text(c.ns, "%.0f").c_str(), c.n * kBatches);
  std::printf("%-53s %9s %20s\n", "ratio (per round)", "median", "rounds min .. max");
  for (const Ratio& q : ratios) {
    std::vector<double> per_round;
    for (const RoundBatches& round : all) {
      std::vector<double> per_batch;
      for (size_t b = 0; b < round[q.over].size(); ++b)
        per_batch.push_back(round[q.over][b] / round[q.under][b]);
      per_round.push_back(median(per_batch));
    }
    std::printf("%-53s %9.2f %20s\n", q.name.c_str(), median(per_round),
                range_text(per_round, "%.2f").c_str());
  }
  std::fflush(stdout);
}

// ---- the component ----

struct Bound {
  jobject component = nullptr;  // puente.ScanMontura
  jobject device = nullptr;     // puente.IScanMontura, bound
};

Bound create_and_bind() {
  Bound b;
  b.component = ref(new_instance("puente/ScanMontura"));
  const jboolean created = native<jboolean>("Java_puente_ScanMontura__1_1JComCreateObject__ZZ",
                                            b.component, jboolean{0}, jboolean{0});
  std::string exception = take_exception();
  if (!created) fail("__JComCreateObject: " + exception);
  b.device = ref(new_instance("puente/IScanMontura"));
  const jboolean bound =
      native<jboolean>("Java_puente_IScanMontura__1_1JComLoad__Lezjcom_JComObject_2Z", b.device,
                       b.component, jboolean{0});
  exception = take_exception();
  if (!bound) fail("IScanMontura.__JComLoad: " + exception);
  return b;
}

void release(jobject wrapper) {
  Object* w = deref(wrapper);
  if (!w || w->get_int("comId") == 0) return;
  call_in<void>(g_runtime, "Java_ezjcom_JComObject__1_1JComRelease", jclass{nullptr},
                w->get_int("comId"));
  w->set_int("comId", 0);
}

// The component's running instance, from the running object table, as IScanMontura.
IDispatch* running_proxy() {
  const CLSID clsid = {
      0x834FBEE5, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
  IUnknown* unknown = nullptr;
  IDispatch* d = nullptr;
  const HRESULT hr = GetActiveObject(clsid, nullptr, &unknown);
  if (SUCCEEDED(hr)) unknown->QueryInterface(kIidIScanMontura, reinterpret_cast<void**>(&d));
  if (unknown) unknown->Release();
  if (!d) fail("the running instance in the running object table: " + hex(hr));
  return d;
}

}  // namespace

// The host's suites are not part of this program; host_support.h declares them.
namespace wh {
void apartment_suite() {}
void out_of_process_suite(bool) {}
void final_checks() {}
}  // namespace wh

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::printf(
        "usage: wine_bench.exe <folder of the DLLs> Both|Apartment|OutOfProcess "
        "[rounds [target-ms]]\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const std::wstring model = argv[2];
  const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 11;
  const double target_ms = argc > 4 ? std::max(1, _wtoi(argv[4])) : 100;
  const bool out_of_process = model == L"OutOfProcess";
  if (model != L"Both" && model != L"Apartment" && !out_of_process)
    fail("the model is Both, Apartment or OutOfProcess");
  if (registered_threading_model() != (out_of_process ? std::wstring(L"Both") : model))
    fail("the component is not registered with the threading model asked for");
  if (out_of_process) SetEnvironmentVariableW(L"EZJCOM_SERVER", L"local");

  // The main thread only sets up and hands out the work; it is a Java thread
  // that joined the MTA, as the Apartment suite's main thread is.
  Vm& vm = Vm::instance();
  define_classes(vm);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) fail("CoInitializeEx (MTA)");
  g_runtime = LoadLibraryW((folder + L"\\EZJcomLib18.dll").c_str());
  if (!g_runtime) fail("LoadLibrary(EZJcomLib18.dll): error " + std::to_string(GetLastError()));
  g_bridge = LoadLibraryW((folder + L"\\JTrazelo.dll").c_str());
  if (!g_bridge) fail("LoadLibrary(JTrazelo.dll): error " + std::to_string(GetLastError()));
  // By the name the JVM of this machine looks up (decorated on 32-bit x86 only).
  g_get_box_h = bridge_native<GetFloat>(
      jvm_export_name("Java_puente_IScanMontura_getBoxH", stack_bytes<jobject>()).c_str());
  g_set_text = bridge_native<SetString>(
      jvm_export_name("Java_puente_IScanMontura_setText__Ljava_lang_String_2",
                      stack_bytes<jobject, jstring>())
          .c_str());

  Bound b = create_and_bind();
  if (out_of_process && GetModuleHandleW(L"ScanMonturaSim.dll"))
    fail("the component was loaded into this process, not served by the surrogate");
  JNIEnv* e = vm.main_env();
  // Global references: the workers use them on their own environments.
  jobject device = e->NewGlobalRef(b.device);
  jstring text = static_cast<jstring>(e->NewGlobalRef(jstr(kText)));
  // The pointer the runtime holds: the component itself (Both), or a proxy of the MTA (Apartment).
  // OutOfProcess: the IScanMontura proxy of the running instance in the surrogate, this
  // apartment's; COM keeps one proxy per object and interface in an apartment, so it is the
  // runtime's own.
  IDispatch* running = out_of_process ? running_proxy() : nullptr;
  IDispatch* held = out_of_process ? running : held_pointer(b.device);
  g_set_text(e, device, text);  // the text every put then sets again
  if (!take_exception().empty()) fail("setText");

  {
    Worker mta(COINIT_MULTITHREADED);
    std::vector<Case> cases;
    std::vector<Ratio> ratios;
    auto add = [&](const std::string& name, Worker& w, std::function<bool(long)> body) {
      cases.push_back(Case{name, &w, std::move(body), 0, {}, {}});
      return cases.size() - 1;
    };
    const bool both = model == L"Both";
    const std::string invoke = both ? "Invoke" : "proxy Invoke";
    const size_t get_base =
        add(invoke + " getBoxH", mta, [&](long n) { return invoke_get_box_h(held, n); });
    const size_t get_native =
        add("getBoxH native", mta, [&](long n) { return native_get_box_h(device, n); });
    const size_t set_base =
        add(invoke + " setText", mta, [&](long n) { return invoke_set_text(held, n); });
    const size_t set_native =
        add("setText native", mta, [&](long n) { return native_set_text(device, text, n); });
    add("host VM frame + com-id read", mta, [&](long n) { return host_frame(device, n); });
    const std::string where = both ? "" : " (MTA)";
    ratios.push_back({"getBoxH native / " + invoke + " getBoxH" + where, get_native, get_base});
    ratios.push_back({"setText native / " + invoke + " setText" + where, set_native, set_base});

    if (both) {
      // From an STA the runtime hands the call to its own MTA thread, where it
      // is a direct call: what the handing over costs.
      Worker sta(COINIT_APARTMENTTHREADED);
      Echo echo;
      const size_t sta_native =
          add("getBoxH native", sta, [&](long n) { return native_get_box_h(device, n); });
      const size_t round_trip = add("event round trip to another thread", sta,
                                    [&](long n) { return echo.round_trips(n); });
      ratios.push_back({"getBoxH native (STA) / getBoxH native (MTA)", sta_native, get_native});
      ratios.push_back({"getBoxH native (STA) / event round trip (STA)", sta_native, round_trip});
      run_and_print("Both: the component in the MTA, callers in the MTA and an STA", cases, ratios,
                    rounds, target_ms);
    } else if (out_of_process) {
      run_and_print(
          "OutOfProcess: the component in COM's surrogate, another process; callers in "
          "the MTA",
          cases, ratios, rounds, target_ms);
    } else {
      // The STA thread's own proxy, from the Global Interface Table.
      Worker sta(COINIT_APARTMENTTHREADED);
      IGlobalInterfaceTable* git = nullptr;
      DWORD cookie = 0;
      if (FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&git))) ||
          FAILED(git->RegisterInterfaceInGlobal(held, kIidIScanMontura, &cookie)))
        fail("the Global Interface Table");
      IDispatch* own = nullptr;
      HRESULT got = E_FAIL;
      sta.run([&] {
        got = git->GetInterfaceFromGlobal(cookie, kIidIScanMontura, reinterpret_cast<void**>(&own));
      });
      if (FAILED(got) || !own) fail("GetInterfaceFromGlobal on the STA thread: " + hex(got));

      const size_t sta_get_base =
          add("proxy Invoke getBoxH", sta, [&](long n) { return invoke_get_box_h(own, n); });
      const size_t sta_get_native =
          add("getBoxH native", sta, [&](long n) { return native_get_box_h(device, n); });
      const size_t sta_set_base =
          add("proxy Invoke setText", sta, [&](long n) { return invoke_set_text(own, n); });
      const size_t sta_set_native =
          add("setText native", sta, [&](long n) { return native_set_text(device, text, n); });
      ratios.push_back(
          {"getBoxH native / proxy Invoke getBoxH (STA)", sta_get_native, sta_get_base});
      ratios.push_back(
          {"setText native / proxy Invoke setText (STA)", sta_set_native, sta_set_base});
      ratios.push_back(
          {"getBoxH native (STA) / proxy Invoke getBoxH (MTA)", sta_get_native, get_base});
      ratios.push_back(
          {"setText native (STA) / proxy Invoke setText (MTA)", sta_set_native, set_base});
      run_and_print("Apartment: the component in an STA of its own, callers in the MTA and an STA",
                    cases, ratios, rounds, target_ms);

      sta.run([&] { own->Release(); });
      git->RevokeInterfaceFromGlobal(cookie);
      git->Release();
    }
  }

  e->DeleteGlobalRef(text);
  e->DeleteGlobalRef(device);
  if (running) running->Release();
  release(b.device);
  release(b.component);
  const std::vector<std::string> misuse = vm.violations();
  if (!misuse.empty()) fail("JNI misuse: " + joined(misuse));
  std::printf("\nok   every call succeeded\n");
  std::fflush(stdout);
  return 0;
}
