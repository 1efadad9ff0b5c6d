// ScanMonturaEventSink: the COM object that stands for a Java listener at the
// component's connection point for IScanMonturaEvents.
//
// One interface table (IDispatch), so one address serves as IUnknown,
// IDispatch and IScanMonturaEvents. Created with one reference, which goes
// with its address into an event-id field; the last Release deletes the
// global references, on whatever thread it runs.
//
// Sinks are never freed: one whose last reference went stays, dead, until
// the next sink reuses it. An address that once held a sink thus always holds
// one, and a reference given up twice (through a stale copy of an event-id
// field, say) reaches a dead sink, whose AddRef, Release and QueryInterface
// do nothing, rather than freed memory.
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
  ~ScanMonturaEventSink() = default;  // never run: a sink's memory is reused, not freed

  // A sink from the pool of dead ones, or newly allocated; dead.
  static ScanMonturaEventSink* Allocate();
  // Brings a dead sink to life with one reference.
  void Start(jobject javaObject, unsigned char serverSide, jobject serverSideValue);

  jobject javaObject_ = nullptr;              // global reference, owned
  unsigned char serverSide_ = 0;              // 1: server-side delivery, 0: direct
  jobject serverSideValue_ = nullptr;         // global reference to the interface name, owned
  std::atomic<LONG> refCount_{0};             // 0: dead
  ScanMonturaEventSink* nextDead_ = nullptr;  // in the pool
};

// Index in rgvarg of the argument at `position` of an event declared with
// `declared` parameters: a named argument with that DISPID if there is one,
// else the positional slot (arguments stand last-first).
UINT argument_index(UINT position, const DISPPARAMS* params, int declared);

}  // namespace jtz
