#include "component.h"

#include "module.h"
#include "scanmontura_interface.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace sim {
namespace {

// The events as the component describes them.
constexpr DISPID EventId(const char* name) {
  return scanmontura::Find(scanmontura::kIScanMonturaEvents, name)->dispid;
}
constexpr DISPID kOnChange = EventId("OnChange");
constexpr DISPID kOnClick = EventId("OnClick");
constexpr DISPID kOnDblClick = EventId("OnDblClick");
constexpr DISPID kOnKeyPress = EventId("OnKeyPress");
static_assert(
    scanmontura::Find(scanmontura::kIScanMonturaEvents, "OnKeyPress")->params[0].type.vt ==
        (VT_BYREF | VT_I2),
    "OnKeyPress passes its key as a SHORT by reference");
constexpr DWORD kInfinite = 0xFFFFFFFFu;
constexpr UINT kMaxBurstThreads = 64;

// The component whose event thread the current thread is, if any.
thread_local const ScanMontura* t_eventThreadOf = nullptr;

// The instance registered as the running one (weakly) in the running object table.
Mutex& RunningMutex() {
  static Mutex mu;
  return mu;
}
const ScanMontura* g_running = nullptr;
DWORD g_runningToken = 0;

}  // namespace

// ---- Creation and lifetime ----

ScanMontura::ScanMontura() : point_(this) { ModuleObjectCreated(); }

ScanMontura::~ScanMontura() {
  connections_.clear();  // lets the sinks go
  ModuleObjectDestroyed();
}

namespace {

// Where the events of member calls fire, as the environment variable
// SCANMONTURA_SIM_EVENTS says when the instance is created: unset, empty or
// "queued" (the event thread), or "in-call" (inside the call). False for
// another value.
bool ReadEventSetting(bool* inCall) {
  char value[16] = {};
#if defined(_WIN32)
  // The process's environment as it is now, which the C runtime's copy may not be.
  const DWORD n = GetEnvironmentVariableA("SCANMONTURA_SIM_EVENTS", value, sizeof value);
  if (n >= sizeof value) return false;
#else
  // Read on the creating thread; a process changes its environment between calls only.
  // NOLINTNEXTLINE(concurrency-mt-unsafe)
  const char* set = std::getenv("SCANMONTURA_SIM_EVENTS");
  const std::size_t length = set ? std::strlen(set) : 0;
  if (length >= sizeof value) return false;
  if (set) std::memcpy(value, set, length);
#endif
  *inCall = std::strcmp(value, "in-call") == 0;
  return *inCall || value[0] == 0 || std::strcmp(value, "queued") == 0;
}

}  // namespace

HRESULT ScanMontura::Create(REFIID riid, void** ppv) try {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  bool inCall = false;
  if (!ReadEventSetting(&inCall)) return E_INVALIDARG;
  ScanMontura* self = new (std::nothrow) ScanMontura();  // its members may throw
  if (!self) return E_OUTOFMEMORY;
  self->inCallEvents_ = inCall;
  HRESULT hr = self->SettleIn();
  if (SUCCEEDED(hr)) hr = self->QueryInterface(riid, ppv);
  // Not in a single-threaded apartment: the table's hold would be through
  // COM's stubs there, which keep references the instance cannot tell apart.
  if (SUCCEEDED(hr) && !self->inSta_) self->RegisterRunning();
  self->Release();
  return hr;
} catch (...) {
  return HresultOfCurrentException();
}

#if defined(_WIN32)

namespace {

// The posted message that fires the queued events on the home thread.
constexpr UINT kFireQueued = WM_APP + 1;
const wchar_t kWindowClass[] = L"ScanMonturaSimEvents";

// The window class, registered while windows of it exist (a class outliving
// the module would point at code that is gone).
Mutex& WindowClassMutex() {
  static Mutex mu;
  return mu;
}
int g_windows = 0;

bool AcquireWindowClass() {
  Lock lock(WindowClassMutex());
  if (g_windows == 0) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ScanMontura::WindowProc;
    wc.hInstance = ModuleHandle();
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  ++g_windows;
  return true;
}

void ReleaseWindowClass() {
  Lock lock(WindowClassMutex());
  if (--g_windows == 0) UnregisterClassW(kWindowClass, ModuleHandle());
}

// Whether the calling thread is in a single-threaded apartment, found out
// without changing anything.
bool CallerInSingleThreadedApartment() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (hr == RPC_E_CHANGED_MODE) return true;
  if (SUCCEEDED(hr)) CoUninitialize();
  return false;
}

}  // namespace

LRESULT CALLBACK ScanMontura::WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  if (message == kFireQueued) {
    if (auto* self = reinterpret_cast<ScanMontura*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      self->DrainInPlace();
    return 0;
  }
  return DefWindowProcW(window, message, wp, lp);
}

HRESULT ScanMontura::SettleIn() {
  homeThread_ = ThreadNumber();
  if (!CallerInSingleThreadedApartment()) return S_OK;
  if (!AcquireWindowClass()) return HRESULT_FROM_WIN32(GetLastError());
  window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            ModuleHandle(), nullptr);
  if (!window_) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    ReleaseWindowClass();
    return hr;
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  inSta_ = true;
  return S_OK;
}

void ScanMontura::CloseWindow() {
  if (!window_) return;
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId())
    DestroyWindow(window_);
  else
    PostMessageW(window_, WM_CLOSE, 0, 0);  // its thread destroys it
  window_ = nullptr;
  ReleaseWindowClass();
}

#else

// No apartments here: every thread may call the sinks.
HRESULT ScanMontura::SettleIn() {
  homeThread_ = ThreadNumber();
  return S_OK;
}

void ScanMontura::CloseWindow() {}

#endif

void ScanMontura::RegisterRunning() {
  Lock lock(RunningMutex());
  if (g_running) return;
  // Nobody else holds this instance yet: what the count gains is the table's.
  const LONG before = refs_;
  DWORD token = 0;
  if (SUCCEEDED(RegisterActiveObject(static_cast<IDispatch*>(this), kClsidScanMontura,
                                     ACTIVEOBJECT_WEAK, &token))) {
    g_running = this;
    g_runningToken = token;
    runningRefs_ = refs_ - before;
  }
}

void ScanMontura::RevokeRunning() {
  DWORD token = 0;
  {
    Lock lock(RunningMutex());
    if (g_running != this) return;
    token = g_runningToken;
    g_running = nullptr;
    g_runningToken = 0;
    if (runningRefs_ != 0) runningRefs_ = 0;
  }
  // Outside the lock: the table may release its references, and with them
  // this instance, right here.
  RevokeActiveObject(token, nullptr);
}

HRESULT ScanMontura::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, kIidIScanMontura)) {
    *ppv = static_cast<IDispatch*>(this);
  } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
    *ppv = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(riid, IID_ISimControl)) {
    *ppv = static_cast<ISimControl*>(this);
  } else if (IsEqualIID(riid, kIidSimSelf)) {
    *ppv = this;  // the object itself, for SimControl of this module only
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ScanMontura::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

// Nothing of the object is read after the decrement unless this call holds
// the last reference, or the running object table holds all that are left:
// otherwise another thread's Release may end the object meanwhile.
ULONG ScanMontura::Release() {
  const LONG running = runningRefs_.load();
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) {
    Destroy();
  } else if (running != 0 && n == running) {
    RevokeRunning();  // only the running object table holds it: let it go
    return 0;
  }
  return static_cast<ULONG>(n);
}

void ScanMontura::Destroy() {
  RevokeRunning();
  Lock lock(mu_);
  stopping_ = true;
  // Events nobody waits for are dropped; a waiting caller (who would still
  // hold a reference, so this is only defence) is let go.
  for (Job& job : queue_) {
    if (job.done) {
      job.done->hr = E_ABORT;
      job.done->finished = true;
    }
  }
  queue_.clear();
  eventCv_.NotifyAll();
  scanCv_.NotifyAll();
  doneCv_.NotifyAll();
  if (t_eventThreadOf == this) {
    // The last reference went inside a sink call: the event thread cannot
    // join itself, so it tears down once it is back in its loop (or the home
    // thread, once it has fired the event).
    teardownOnEventThread_ = true;
    return;
  }
  lock.Unlock();
  eventThread_.Join();
  scanThread_.Join();
  CloseWindow();
  delete this;
}

void ScanMontura::FinishTeardown() {
  scanThread_.Join();
  eventThread_.Detach();  // this thread itself, if it is the event thread
  CloseWindow();
  delete this;
}

// ---- Event thread ----

void ScanMontura::EventThreadMain(void* self) { static_cast<ScanMontura*>(self)->EventLoop(); }

void ScanMontura::EventLoop() {
  t_eventThreadOf = this;
  Lock lock(mu_);
  for (;;) {
    while (!stopping_ && queue_.empty()) eventCv_.Wait(lock);
    if (stopping_) break;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.Unlock();
    HRESULT hr;
    try {
      hr = RunJob(job);
    } catch (...) {
      hr = HresultOfCurrentException();  // the job ends here; the thread goes on
    }
    lock.Relock();
    busy_ = false;
    if (job.done) {
      job.done->hr = hr;
      job.done->finished = true;
    }
    doneCv_.NotifyAll();
  }
  bool teardown = teardownOnEventThread_;
  lock.Unlock();
  t_eventThreadOf = nullptr;
  if (teardown) FinishTeardown();
}

bool ScanMontura::EnsureEventThreadLocked() {
  if (eventThread_.started()) return true;
  if (stopping_) return false;
  return eventThread_.Start(&EventThreadMain, this);
}

void ScanMontura::QueueEventLocked(DISPID dispid) {
  if (stopping_ || (!inSta_ && !EnsureEventThreadLocked())) return;
  Job job;
  job.kind = Job::kFire;
  job.dispid = dispid;
  queue_.push_back(std::move(job));
#if defined(_WIN32)
  if (inSta_) {
    PostMessageW(window_, kFireQueued, 0, 0);
    doneCv_.NotifyAll();  // a WaitIdle on the home thread fires it itself
    return;
  }
#endif
  eventCv_.NotifyAll();
}

void ScanMontura::ChangedLocked(bool* changed) {
  if (changed && inCallEvents_)
    *changed = true;
  else
    QueueEventLocked(kOnChange);
}

void ScanMontura::FireOfCall(DISPID dispid) {
  // The sinks may give up every other reference meanwhile: the object stays
  // until they are done, and goes with this release if so.
  AddRef();
  if (inSta_) {
    Job job;
    job.kind = Job::kFire;
    job.dispid = dispid;
    RunOnEventThread(std::move(job));
  } else {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    FireToSinks(dispid, &none);
  }
  Release();
}

bool ScanMontura::RunInPlace(const Job& job, HRESULT* hr) {
  const ScanMontura* outer = t_eventThreadOf;
  t_eventThreadOf = this;
  try {
    *hr = RunJob(job);
  } catch (...) {
    *hr = HresultOfCurrentException();
  }
  t_eventThreadOf = outer;
  if (outer == this) return true;  // the outer run finishes a teardown
  bool teardown;
  {
    Lock lock(mu_);
    teardown = teardownOnEventThread_;
  }
  if (!teardown) return true;
  FinishTeardown();
  return false;
}

bool ScanMontura::DrainInPlace() {
  if (t_eventThreadOf == this) return true;  // inside a sink call: the outer run drains
  for (;;) {
    Job job;
    {
      Lock lock(mu_);
      if (stopping_ || queue_.empty()) return true;
      job = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    HRESULT hr;
    if (!RunInPlace(job, &hr)) return false;
    Lock lock(mu_);
    busy_ = false;
    doneCv_.NotifyAll();
  }
}

HRESULT ScanMontura::RunOnEventThread(Job job) {
  if (inSta_) {
    // The caller is in the component's apartment, on its home thread: the
    // events queued before go first, then this job, then what it queued.
    if (t_eventThreadOf == this) return RunJob(job);
    if (!DrainInPlace()) return E_ABORT;
    HRESULT hr = S_OK;
    if (RunInPlace(job, &hr)) DrainInPlace();
    return hr;
  }
  Lock lock(mu_);
  if (t_eventThreadOf == this) {
    // Asked from inside a sink: run it here rather than wait for ourselves.
    lock.Unlock();
    return RunJob(job);
  }
  if (!EnsureEventThreadLocked()) return E_OUTOFMEMORY;
  Completion done;
  job.done = &done;
  queue_.push_back(std::move(job));
  eventCv_.NotifyAll();
  while (!done.finished) doneCv_.Wait(lock);
  return done.hr;
}

HRESULT ScanMontura::RunJob(const Job& job) {
  if (job.kind == Job::kType) return TypeOnEventThread(job.text);
  DISPPARAMS params = job.params;
  FireToSinks(job.dispid, &params);
  return S_OK;
}

ULONG ScanMontura::FireToSinks(DISPID dispid, DISPPARAMS* params) {
  firingThread_ = ThreadNumber();
  std::vector<Connection> sinks;  // its references go after the calls, without the lock
  try {
    Lock lock(mu_);
    sinks.reserve(connections_.size());
    for (const Connection& c : connections_)
      sinks.push_back({c.cookie, ComPtr<IDispatch>::Share(c.sink.get())});
  } catch (const std::bad_alloc&) {
    return 0;  // no room for the list of sinks: the event is dropped
  }
  ULONG calls = 0;
  for (Connection& c : sinks) {
    c.sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr,
                   nullptr);
    ++calls;
    Lock lock(mu_);
    auto counted = delivered_.find(c.cookie);  // there since Advise
    if (counted != delivered_.end()) ++counted->second;
  }
  return calls;
}

HRESULT ScanMontura::TypeOnEventThread(const OleString& text) {
  HRESULT hr = S_OK;
  bool firstOfRun = true;
  for (OLECHAR ch : text) {
    SHORT key = static_cast<SHORT>(ch);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_I2;
    arg.piVal = &key;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    FireToSinks(kOnKeyPress, &params);
    if (key == 0) continue;  // a sink swallowed the key
    EditResult r;
    {
      Lock lock(mu_);
      r = edit_.TypeKey(static_cast<OLECHAR>(static_cast<USHORT>(key)), firstOfRun);
    }
    if (r == EditResult::kReadOnly) hr = E_ACCESSDENIED;
    if (r == EditResult::kChanged) {
      firstOfRun = false;
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      FireToSinks(kOnChange, &none);
    }
  }
  return hr;
}

// ---- Scan thread ----

void ScanMontura::ScanThreadMain(void* self) { static_cast<ScanMontura*>(self)->ScanLoop(); }

// A status line that cannot be allocated is left out.
void ScanMontura::SetDeviceTextLocked(const char* text, bool* changed) {
  try {
    if (edit_.SetDeviceText(ToOleString(text))) ChangedLocked(changed);
  } catch (const std::bad_alloc&) {
  }
}

void ScanMontura::ScanLoop() {
  Lock lock(mu_);
  while (!stopping_) {
    if (!scanPending_) {
      scanCv_.Wait(lock);
      continue;
    }
    scanPending_ = false;
    const ScanRequest req = request_;
    const unsigned generation = scanGeneration_;
    auto aborted = [&] { return stopping_ || scanGeneration_ != generation; };
    lock.Unlock();
    Trace trace;
    bool measured = true;
    try {
      if (req.frame) trace = MeasureFrame(*req.frame, req.points, req.leftEye);
    } catch (const std::bad_alloc&) {
      measured = false;  // no room for the trace: the scan fails
    }
    lock.Relock();

    // Ten steps of a tenth of the scan time each, 2000 ms / speed in all.
    const uint64_t stepMs = 200u / static_cast<uint64_t>(req.speed);
    uint64_t deadline = NowMs();
    for (int percent = 0; percent < 100 && !aborted(); percent += 10) {
      tracer_.status = 100 + percent;
      char line[32];
      static_cast<void>(std::snprintf(line, sizeof line, "Scanning %d%%", percent));
      SetDeviceTextLocked(line, nullptr);
      deadline += stepMs;
      while (!aborted() && scanCv_.WaitUntil(lock, deadline)) {
      }
    }
    if (aborted()) continue;  // Cierra (or the teardown) has dealt with it
    if (!req.frame) {
      tracer_.status = -1;
      SetDeviceTextLocked("Scan failed: no frame in the tracer", nullptr);
    } else if (!measured) {
      tracer_.status = -1;
      SetDeviceTextLocked("Scan failed: out of memory", nullptr);
    } else {
      char line[48];
      static_cast<void>(std::snprintf(line, sizeof line, "Trace: %d points", req.points));
      tracer_.trace = std::move(trace);
      tracer_.hasTrace = true;
      tracer_.status = 200;
      SetDeviceTextLocked(line, nullptr);
    }
    scanning_ = false;
    doneCv_.NotifyAll();
  }
}

void ScanMontura::CierraLocked(bool* changed) {
  if (scanning_) {
    // Aborts the scan in progress, or the one the scan thread has not taken up yet.
    scanning_ = false;
    scanPending_ = false;
    ++scanGeneration_;
    SetDeviceTextLocked("Scan aborted", changed);
    scanCv_.NotifyAll();
    doneCv_.NotifyAll();
  }
  tracer_.port = 0;
  tracer_.status = 0;
}

HRESULT ScanMontura::Explora(Failure* why) {
  if (tracer_.port == 0) {
    why->description = "Explora: no tracer port is open";
    return E_FAIL;
  }
  if (scanning_) {
    why->description = "Explora: a scan is already running";
    return E_FAIL;
  }
  ScanRequest req;
  req.frame = FrameForPort(tracer_.port);
  // Read on the calling thread; a process changes its environment between calls only.
  // NOLINTNEXTLINE(concurrency-mt-unsafe)
  const char* setting = std::getenv("SCANMONTURA_SIM_FRAME");
  if (chosen_[tracer_.port - 1]) {
    req.frame = frames_[tracer_.port - 1];
  } else if (setting && *setting && !ReadFrameSetting(setting, &req.frame)) {
    why->description = std::string("Explora: SCANMONTURA_SIM_FRAME=") + setting +
                       " names no frame (known: " + KnownFrameSettings() + ")";
    return E_INVALIDARG;
  }
  req.points = tracer_.mode == 2 ? 1000 : 400;
  req.leftEye = tracer_.eye == 2;
  req.speed = tracer_.speed;
  if (!scanThread_.started() && !scanThread_.Start(&ScanThreadMain, this)) {
    why->description = "Explora: cannot start the scan";
    return E_OUTOFMEMORY;
  }
  request_ = req;
  scanPending_ = true;
  scanning_ = true;
  ++scanGeneration_;
  tracer_.status = 100;
  scanCv_.NotifyAll();
  return S_OK;
}

// ---- Connection point ----

HRESULT ScanMontura::EventPoint::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT ScanMontura::EventPoint::GetConnectionInterface(IID* pIID) {
  if (!pIID) return E_POINTER;
  *pIID = kIidIScanMonturaEvents;
  return S_OK;
}

HRESULT ScanMontura::EventPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC) return E_POINTER;
  *ppCPC = static_cast<IConnectionPointContainer*>(owner_);
  owner_->AddRef();
  return S_OK;
}

HRESULT ScanMontura::EventPoint::Advise(IUnknown* sink, DWORD* cookie) try {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  ComPtr<IDispatch> disp;
  if (FAILED(sink->QueryInterface(IID_IDispatch, disp.put_void())) || !disp)
    return CONNECT_E_CANNOTCONNECT;
  Lock lock(owner_->mu_);
  const DWORD c = owner_->nextCookie_;
  owner_->delivered_[c] = 0;  // first: a failure to record the count connects nothing
  try {
    owner_->connections_.push_back({c, std::move(disp)});
  } catch (...) {
    owner_->delivered_.erase(c);
    throw;
  }
  ++owner_->nextCookie_;
  *cookie = c;
  return S_OK;
} catch (...) {
  return HresultOfCurrentException();
}

HRESULT ScanMontura::EventPoint::Unadvise(DWORD cookie) {
  ComPtr<IDispatch> sink;  // released on return, after the lock
  Lock lock(owner_->mu_);
  std::vector<Connection>& list = owner_->connections_;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->cookie == cookie) {
      sink = std::move(it->sink);
      list.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT ScanMontura::EventPoint::EnumConnections(IEnumConnections** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

HRESULT ScanMontura::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

HRESULT ScanMontura::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  if (!IsEqualIID(riid, kIidIScanMonturaEvents)) {
    *ppCP = nullptr;
    return CONNECT_E_NOCONNECTION;
  }
  *ppCP = &point_;
  AddRef();
  return S_OK;
}

// ---- ISimControl ----

HRESULT ScanMontura::GetLastCall(SimCallRecord* out) {
  if (!out) return E_POINTER;
  Lock lock(mu_);
  *out = last_;
  return S_OK;
}

HRESULT ScanMontura::FireEvent(DISPID dispid, VARIANT* rgvarg, UINT cArgs) try {
  if (cArgs > 0 && !rgvarg) return E_POINTER;
  Job job;
  job.kind = Job::kFire;
  job.dispid = dispid;
  job.params = DISPPARAMS{rgvarg, nullptr, cArgs, 0};
  return RunOnEventThread(std::move(job));
} catch (...) {
  return HresultOfCurrentException();
}

HRESULT ScanMontura::TypeText(LPCOLESTR text) try {
  if (!text) return E_POINTER;
  Job job;
  job.kind = Job::kType;
  for (; *text; ++text) job.text.push_back(*text);
  return RunOnEventThread(std::move(job));
} catch (...) {
  return HresultOfCurrentException();
}

HRESULT ScanMontura::Click() { return FireEvent(kOnClick, nullptr, 0); }
HRESULT ScanMontura::DblClick() { return FireEvent(kOnDblClick, nullptr, 0); }

namespace {

struct Burst {
  ScanMontura* self;
  ULONG (*fire)(ScanMontura*, DISPID);
  DISPID dispid;
  UINT perThread;
  std::atomic<ULONG> delivered{0};
  Mutex mu;
  CondVar go;
  bool started = false;
};

}  // namespace

HRESULT ScanMontura::FireBurst(DISPID dispid, UINT threads, UINT perThread, ULONG* delivered) {
  if (delivered) *delivered = 0;
  if (threads == 0 || threads > kMaxBurstThreads) return E_INVALIDARG;
#if defined(_WIN32)
  if (inSta_) return RPC_E_WRONG_THREAD;  // its sinks are for its home thread only
#endif
  Burst burst;
  burst.self = this;
  burst.fire = [](ScanMontura* s, DISPID id) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return s->FireToSinks(id, &none);
  };
  burst.dispid = dispid;
  burst.perThread = perThread;
  std::unique_ptr<Thread[]> pool(new (std::nothrow) Thread[threads]);
  if (!pool) return E_OUTOFMEMORY;
  auto entry = [](void* p) {
    Burst* b = static_cast<Burst*>(p);
    {
      Lock lock(b->mu);
      while (!b->started) b->go.Wait(lock);
    }
    for (UINT k = 0; k < b->perThread; ++k) b->delivered += b->fire(b->self, b->dispid);
  };
  HRESULT hr = S_OK;
  UINT running = 0;
  for (; running < threads; ++running) {
    if (!pool[running].Start(entry, &burst)) {
      hr = E_OUTOFMEMORY;
      break;
    }
  }
  {
    Lock lock(burst.mu);
    burst.started = true;
    burst.go.NotifyAll();
  }
  for (UINT k = 0; k < running; ++k) pool[k].Join();
  if (delivered) *delivered = burst.delivered.load();
  return hr;
}

HRESULT ScanMontura::OverrideResult(DISPID dispid, const VARIANT* result, HRESULT hr) try {
  Lock lock(mu_);
  if (!result) {
    overrides_.erase(dispid);
    return S_OK;
  }
  ResultOverride& o = overrides_[dispid];
#if defined(_WIN32)
  // mingw-w64 declares the source of VariantCopy without const.
  HRESULT copied = VariantCopy(o.value.put(), const_cast<VARIANT*>(result));
#else
  HRESULT copied = VariantCopy(o.value.put(), result);
#endif
  if (FAILED(copied)) {
    overrides_.erase(dispid);
    return copied;
  }
  o.hr = hr;
  return S_OK;
} catch (...) {
  return HresultOfCurrentException();
}

HRESULT ScanMontura::FailMember(DISPID dispid, HRESULT hr, LPCOLESTR description) try {
  Lock lock(mu_);
  if (hr == 0) {
    failures_.erase(dispid);
    return S_OK;
  }
  MemberFailure made;  // complete before it replaces what was set
  made.hr = hr;
  made.hasDescription = description != nullptr;
  if (description)
    for (; *description; ++description) made.description.push_back(*description);
  failures_[dispid] = std::move(made);
  return S_OK;
} catch (...) {
  return HresultOfCurrentException();
}

HRESULT ScanMontura::WaitIdle(DWORD timeoutMs) {
  if (inSta_) return WaitIdleInPlace(timeoutMs);
  Lock lock(mu_);
  if (t_eventThreadOf == this) return E_UNEXPECTED;  // it would wait for itself
  const uint64_t deadline = NowMs() + timeoutMs;
  while (scanning_ || busy_ || !queue_.empty()) {
    if (timeoutMs == kInfinite) {
      doneCv_.Wait(lock);
    } else if (!doneCv_.WaitUntil(lock, deadline)) {
      if (scanning_ || busy_ || !queue_.empty()) return SIM_E_TIMEOUT;
    }
  }
  return S_OK;
}

// On the home thread, which fires the queued events itself meanwhile.
HRESULT ScanMontura::WaitIdleInPlace(DWORD timeoutMs) {
  if (t_eventThreadOf == this) return E_UNEXPECTED;  // inside a sink call
  const uint64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    if (!DrainInPlace()) return E_ABORT;
    Lock lock(mu_);
    if (!queue_.empty()) continue;
    if (!scanning_) return S_OK;
    if (timeoutMs == kInfinite) {
      doneCv_.Wait(lock);
    } else if (!doneCv_.WaitUntil(lock, deadline) && scanning_ && queue_.empty()) {
      return SIM_E_TIMEOUT;
    }
  }
}

HRESULT ScanMontura::ConnectionCount(ULONG* count) {
  if (!count) return E_POINTER;
  Lock lock(mu_);
  *count = static_cast<ULONG>(connections_.size());
  return S_OK;
}

HRESULT ScanMontura::SetFrame(SHORT port, LPCOLESTR frame) {
  if (port < 0 || port > 16) return E_INVALIDARG;
  const FrameShape* shape = nullptr;
  if (frame) {
    char name[16] = {};
    for (size_t i = 0; frame[i]; ++i) {
      if (i + 1 >= sizeof name || frame[i] > 0x7F) return E_INVALIDARG;
      name[i] = static_cast<char>(frame[i]);
    }
    if (!ReadFrameSetting(name, &shape)) return E_INVALIDARG;
  }
  Lock lock(mu_);
  for (int p = port ? port : 1; p <= (port ? port : 16); ++p) {
    chosen_[p - 1] = frame != nullptr;
    frames_[p - 1] = shape;
  }
  return S_OK;
}

HRESULT ScanMontura::DeliveredTo(DWORD cookie, ULONG* count) {
  if (!count) return E_POINTER;
  Lock lock(mu_);
  auto it = delivered_.find(cookie);
  if (it == delivered_.end()) {
    *count = 0;
    return E_INVALIDARG;
  }
  *count = it->second;
  return S_OK;
}

}  // namespace sim
