// ScanMonturaEventSink: the COM object that stands for a Java listener at the
// component's connection point for IScanMonturaEvents.
//
// One interface table (IDispatch), so one address serves as IUnknown,
// IDispatch and IScanMonturaEvents. Created with one reference, which goes
// with its address into an event-id field; the last Release deletes the
// global references and frees it, on whatever thread it runs.
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <new>

namespace jtz {

class ScanMonturaEventSink final : public IDispatch {
 public:
  // Direct delivery: events call the listener's own methods.
  explicit ScanMonturaEventSink(jobject listener);
  // Server-side delivery: events go to the runtime with `javaObject` and the
  // server-side value (a global reference this sink then owns).
  ScanMonturaEventSink(jobject serverSideValue, jobject javaObject);

  ScanMonturaEventSink(const ScanMonturaEventSink&) = delete;
  ScanMonturaEventSink& operator=(const ScanMonturaEventSink&) = delete;

  // COM objects come from CoTaskMemAlloc, which on 64-bit hosts keeps their
  // addresses within the 32-bit event-id field. Allocation failure gives null.
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  // NOLINTNEXTLINE(misc-new-delete-overloads,cert-dcl54-cpp): frees what the nothrow new made.
  static void operator delete(void* p) noexcept;
  static void operator delete(void* p, const std::nothrow_t&) noexcept;

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
  ~ScanMonturaEventSink() = default;

  jobject javaObject_;        // global reference, owned
  unsigned char serverSide_;  // 1: server-side delivery, 0: direct
  jobject serverSideValue_;   // global reference to the interface name, owned
  volatile LONG refCount_;
};

// Index in rgvarg of the argument at `position` of an event declared with
// `declared` parameters: a named argument with that DISPID if there is one,
// else the positional slot (arguments stand last-first).
UINT argument_index(UINT position, const DISPPARAMS* params, int declared);

}  // namespace jtz
