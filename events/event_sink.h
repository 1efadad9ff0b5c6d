// ScanMonturaEventSink: the COM object that stands for a Java listener at the
// component's connection point for IScanMonturaEvents.
//
// One interface table (IDispatch), so one address serves as IUnknown,
// IDispatch and IScanMonturaEvents. Created with one reference, which goes
// with its address into an event-id field; the last Release deletes the
// global references, on whatever thread it runs.
//
// Sinks are never freed nor reused: one whose last reference went stays,
// dead, for the rest of the process (a few words each). An address that once
// held a sink thus always holds that sink, and whatever reaches it late (a
// reference given up twice through a stale copy of an event-id field, a
// component that calls a sink after releasing it) reaches a dead sink, whose
// AddRef, Release and QueryInterface do nothing and whose Invoke calls no
// Java, never freed memory or another listener's sink.
//
//   ScanMonturaEventSink* sink = ScanMonturaEventSink::Create(listener);
//   if (!sink) ...;  // none could be allocated
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <atomic>

namespace jtz {

class ScanMonturaEventSink final : public IDispatch {
 public:
  // Direct delivery: events call the listener's own methods. Null when no
  // sink can be allocated.
  static ScanMonturaEventSink* Create(jobject listener);
  // Server-side delivery: events go to the runtime with `javaObject` and a
  // global reference to `interfaceName` (made with env, and owned by the
  // sink), which is made only once the sink is allocated.
  static ScanMonturaEventSink* CreateServerSide(JNIEnv* env, jstring interfaceName,
                                                jobject javaObject);

  ScanMonturaEventSink(const ScanMonturaEventSink&) = delete;
  ScanMonturaEventSink& operator=(const ScanMonturaEventSink&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                   UINT* argErr) override;

  jobject javaObject() const { return javaObject_; }
  bool serverSide() const { return serverSide_ != 0; }
  jobject serverSideValue() const { return serverSideValue_; }

 private:
  ScanMonturaEventSink() = default;
  ~ScanMonturaEventSink() = default;  // never run: a sink's memory is never freed

  // A new sink, not yet alive.
  static ScanMonturaEventSink* Allocate();
  // Brings a new sink to life with one reference.
  void Start(jobject javaObject, unsigned char serverSide, jobject serverSideValue);
  // Invoke's delivery, while Invoke holds a reference.
  void Deliver(DISPID dispid, DISPPARAMS* params);

  jobject javaObject_ = nullptr;       // global reference, owned
  unsigned char serverSide_ = 0;       // 1: server-side delivery, 0: direct
  jobject serverSideValue_ = nullptr;  // global reference to the interface name, owned
  std::atomic<LONG> refCount_{0};      // 0: dead
};

// Index in rgvarg of the argument at `position` of an event declared with
// `declared` parameters: a named argument with that DISPID if there is one,
// else the positional slot (arguments stand last-first).
UINT argument_index(UINT position, const DISPPARAMS* params, int declared);

}  // namespace jtz
