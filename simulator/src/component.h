// The simulated ScanMontura component: one COM object with the edit control,
// the frame tracer, one connection point for IScanMonturaEvents and the
// ISimControl test interface.
//
// Threads: member calls may come from any thread. All state sits behind mu_,
// which is never held while a sink is called. Events fire on the component's
// event thread (started on first use); scans run on its scan thread. Created
// with SCANMONTURA_SIM_EVENTS=in-call, the component fires the OnChange of a
// member call inside that call instead, on the calling thread, after it has
// let mu_ go, as many real controls do; a sink may then call the component
// back on that thread (its put fires its own OnChange, nested). The event and
// scan threads end when the last reference goes: joined from the releasing thread, or, when
// that release happens inside a sink call on the event thread itself, the
// event thread finishes the teardown after it leaves the sink.
//
// Created in a single-threaded apartment (Windows; always so when it is
// registered as "Apartment"), the component behaves as an ActiveX control
// does there: its apartment's thread, its home thread, is its own thread, and
// every event is fired on it, to the sinks as the apartment received them.
// Events of a call (TypeText, FireEvent..., and OnChange of a member call
// when fired in the call) are fired in place; queued ones (OnChange of a
// member call otherwise, or of a scan) are posted to a message-only window
// of the home thread, whose message loop (COM's, in its apartment) fires
// them, and WaitIdle on the home thread fires them itself. There is no event
// thread then.
#pragma once

#include "com_util.h"
#include "edit_control.h"
#include "members.h"
#include "scanmontura_sim.h"
#include "sync.h"
#include "tracer.h"

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace sim {

class ScanMontura final : public IDispatch,
                          public IConnectionPointContainer,
                          public ISimControl,
                          public TaskMemObject {
 public:
  static HRESULT Create(REFIID riid, void** ppv);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                   UINT* argErr) override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // ISimControl
  HRESULT STDMETHODCALLTYPE GetLastCall(SimCallRecord* out) override;
  HRESULT STDMETHODCALLTYPE FireEvent(DISPID dispid, VARIANT* rgvarg, UINT cArgs) override;
  HRESULT STDMETHODCALLTYPE TypeText(LPCOLESTR text) override;
  HRESULT STDMETHODCALLTYPE Click() override;
  HRESULT STDMETHODCALLTYPE DblClick() override;
  HRESULT STDMETHODCALLTYPE FireBurst(DISPID dispid, UINT threads, UINT perThread,
                                      ULONG* delivered) override;
  HRESULT STDMETHODCALLTYPE OverrideResult(DISPID dispid, const VARIANT* result,
                                           HRESULT hr) override;
  HRESULT STDMETHODCALLTYPE FailMember(DISPID dispid, HRESULT hr, LPCOLESTR description) override;
  HRESULT STDMETHODCALLTYPE WaitIdle(DWORD timeoutMs) override;
  HRESULT STDMETHODCALLTYPE ConnectionCount(ULONG* count) override;
  HRESULT STDMETHODCALLTYPE DeliveredTo(DWORD cookie, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE SetFrame(SHORT port, LPCOLESTR frame) override;

#if defined(_WIN32)
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp);
#endif

  // Where the component lives and which threads it used last (SimControl):
  // created in a single-threaded apartment; the thread it was created on; the
  // thread of the latest IScanMontura call, and of the latest event (0: none).
  bool InSingleThreadedApartment() const { return inSta_; }
  unsigned long HomeThread() const { return homeThread_; }
  unsigned long CallThread() const { return callThread_.load(); }
  unsigned long FiringThread() const { return firingThread_.load(); }

 private:
  // The one connection point, part of the component: its references are the
  // component's, its identity (QueryInterface) its own.
  class EventPoint final : public IConnectionPoint {
   public:
    explicit EventPoint(ScanMontura* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

   private:
    ScanMontura* owner_;
  };

  enum class Shape { kGet, kPut, kMethod };

  // One argument, coerced to its declared type: numbers and booleans in n
  // (a boolean as 0 or 1), strings in s.
  struct Arg {
    LONG n = 0;
    OleString s;
  };

  struct Failure {
    HRESULT hr = S_OK;
    std::string description;
  };

  struct Props {
    bool autoSelect = true, autoSize = true, ctl3D = true, enabled = true, hideSelection = true;
    bool oemConvert = false, parentColor = false, parentCtl3D = true, visible = true;
    bool doubleBuffered = false;
    int borderStyle = 1;           // bsSingle
    int dragMode = 0;              // dmManual
    int imeMode = 3;               // imDontCare
    OLE_COLOR color = 0x80000005;  // system colour "window"
    SHORT dragCursor = -12;        // crDrag
    SHORT cursor = 0;              // crDefault
    BYTE passwordChar = 0;
    OleString imeName;
  };

  struct TracerState {
    int port = 0;  // 0: closed
    int speed = 5;
    int mode = 1;
    int eye = 1;
    int status = 0;
    bool hasTrace = false;
    Trace trace;
  };

  struct ScanRequest {
    const FrameShape* frame = nullptr;  // nullptr: the tracer holds no frame, the scan fails
    int points = 400;
    bool leftEye = false;
    int speed = 5;
  };

  struct Completion {
    bool finished = false;
    HRESULT hr = S_OK;
  };

  struct Job {
    enum Kind { kFire, kType } kind = kFire;
    DISPID dispid = 0;
    DISPPARAMS params{nullptr, nullptr, 0, 0};  // borrowed from a waiting caller
    OleString text;
    Completion* done = nullptr;  // null for events nobody waits for
  };

  struct Connection {
    DWORD cookie;
    ComPtr<IDispatch> sink;
  };

  struct ResultOverride {
    UniqueVariant value;
    HRESULT hr = S_OK;
  };

  struct MemberFailure {
    HRESULT hr = S_OK;
    OleString description;
    bool hasDescription = false;
  };

  ScanMontura();
  ~ScanMontura();

  // Finds out where the component was created (its home thread, and whether
  // that is a single-threaded apartment's) and, in one, makes its window.
  HRESULT SettleIn();
  void Destroy();
  // The teardown that Destroy left to the thread that was firing an event.
  void FinishTeardown();
  void CloseWindow();
  void RegisterRunning();
  void RevokeRunning();

  void RecordCall(DISPID dispid, WORD flags, const DISPPARAMS* params, const VARIANT* result);
  // A member call, under the lock; *changed is set when the call itself is
  // to fire OnChange once it has let the lock go (see ChangedLocked).
  HRESULT Execute(const MemberInfo& m, Shape shape, const Arg* a, VARIANT* out, Failure* why,
                  bool* changed);
  HRESULT ExecuteTracer(const MemberInfo& m, Shape shape, const Arg* a, VARIANT* out, Failure* why,
                        bool* changed);
  HRESULT Explora(Failure* why);
  void CierraLocked(bool* changed);
  HRESULT EditOutcome(EditResult r, Failure* why, bool* changed);

  bool EnsureEventThreadLocked();
  void QueueEventLocked(DISPID dispid);
  // The text changed, under the lock: by a member call (`changed` given) whose
  // OnChange fires inside it when the component fires its events in the call
  // (*changed set), else OnChange is queued, as for the scan (null).
  void ChangedLocked(bool* changed);
  // Fires OnChange (or another event without arguments) inside the member call
  // that caused it, without the lock: on the calling thread, or, in a
  // single-threaded apartment, on the home thread (which is the calling
  // thread) after the events queued before it. The object may be gone when it
  // returns (a sink gave up the last reference).
  void FireOfCall(DISPID dispid);
  void SetDeviceTextLocked(const char* text, bool* changed);
  HRESULT RunOnEventThread(Job job);
  HRESULT RunJob(const Job& job);
  // Single-threaded apartment: runs a job on the calling thread as the event
  // thread would; false when the component went during it (its last
  // reference was given up inside a sink call) and is destroyed now.
  bool RunInPlace(const Job& job, HRESULT* hr);
  // Single-threaded apartment: fires the queued events on the calling thread;
  // false as RunInPlace.
  bool DrainInPlace();
  HRESULT WaitIdleInPlace(DWORD timeoutMs);
  HRESULT TypeOnEventThread(const OleString& text);
  // Calls every connected sink (a snapshot taken under the lock) without the
  // lock; returns the number of sink Invoke calls made.
  ULONG FireToSinks(DISPID dispid, DISPPARAMS* params);

  static void EventThreadMain(void* self);
  static void ScanThreadMain(void* self);
  void EventLoop();
  void ScanLoop();

  LONG refs_ = 1;
  // Whether the events of a member call fire inside it (SCANMONTURA_SIM_EVENTS=in-call)
  // rather than queued to the event thread; fixed at creation.
  bool inCallEvents_ = false;
  // Where the component lives, fixed by SettleIn.
  bool inSta_ = false;
  unsigned long homeThread_ = 0;
#if defined(_WIN32)
  HWND window_ = nullptr;
#endif
  // The threads of the latest IScanMontura call and of the latest event fired.
  std::atomic<unsigned long> callThread_{0};
  std::atomic<unsigned long> firingThread_{0};
  // References the running object table holds on this instance: none on
  // POSIX; Windows' table keeps some even for a weak registration. When only
  // they are left, the instance revokes its registration and goes.
  std::atomic<LONG> runningRefs_{0};
  EventPoint point_;
  Mutex mu_;

  EditControl edit_;
  Props props_;
  TracerState tracer_;
  // The frame SetFrame put in the tracer of each port: chosen_[p - 1] tells
  // whether there is one, frames_[p - 1] is it (nullptr: empty).
  bool chosen_[16] = {};
  const FrameShape* frames_[16] = {};

  Thread scanThread_;
  CondVar scanCv_;
  bool scanPending_ = false;
  bool scanning_ = false;
  unsigned scanGeneration_ = 0;  // changes when a scan starts or is aborted
  ScanRequest request_;

  Thread eventThread_;
  CondVar eventCv_;  // wakes the event thread
  CondVar doneCv_;   // a job finished, a scan ended: wakes waiting callers
  std::deque<Job> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  bool teardownOnEventThread_ = false;

  std::vector<Connection> connections_;
  DWORD nextCookie_ = 1;
  std::map<DWORD, ULONG> delivered_;

  SimCallRecord last_{};
  std::map<DISPID, ResultOverride> overrides_;
  std::map<DISPID, MemberFailure> failures_;
};

}  // namespace sim
