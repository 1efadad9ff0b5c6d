#include "event_sink.h"

#include <windows.h>

#include "guids.h"
#include "runtime.h"

namespace jtz {

ScanMonturaEventSink::ScanMonturaEventSink(jobject listener)
    : javaObject_(ezjcomGetJniEnv()->NewGlobalRef(listener)),
      serverSide_(0),
      serverSideValue_(nullptr),
      refCount_(1) {}

ScanMonturaEventSink::ScanMonturaEventSink(jobject serverSideValue, jobject javaObject)
    : javaObject_(ezjcomGetJniEnv()->NewGlobalRef(javaObject)),
      serverSide_(1),
      serverSideValue_(serverSideValue),
      refCount_(1) {}

void* ScanMonturaEventSink::operator new(size_t size, const std::nothrow_t&) noexcept {
  return CoTaskMemAlloc(size);
}
// NOLINTNEXTLINE(misc-new-delete-overloads,cert-dcl54-cpp): frees what the nothrow new made.
void ScanMonturaEventSink::operator delete(void* p) noexcept { CoTaskMemFree(p); }
void ScanMonturaEventSink::operator delete(void* p, const std::nothrow_t&) noexcept {
  CoTaskMemFree(p);
}

HRESULT STDMETHODCALLTYPE ScanMonturaEventSink::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) ||
      IsEqualGUID(riid, kIidIScanMonturaEvents)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  if (IsEqualGUID(riid, kIidEventIidQuery)) {
    // Not an interface: the IID this sink serves, without a reference.
    *out = const_cast<IID*>(&kIidIScanMonturaEvents);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ScanMonturaEventSink::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

// The count that remains is the decrement's own result: once it is made,
// another thread's Release may already have freed the object.
ULONG STDMETHODCALLTYPE ScanMonturaEventSink::Release() {
  const LONG remaining = InterlockedDecrement(&refCount_);
  if (remaining > 0) return static_cast<ULONG>(remaining);
  JNIEnv* env = ezjcomGetJniEnv();
  env->DeleteGlobalRef(javaObject_);
  // The interface-name reference was made for this sink alone.
  if (serverSideValue_) env->DeleteGlobalRef(serverSideValue_);
  delete this;
  return 0;
}

HRESULT STDMETHODCALLTYPE ScanMonturaEventSink::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ScanMonturaEventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ScanMonturaEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                                              DISPID*) {
  return E_NOTIMPL;
}

UINT argument_index(UINT position, const DISPPARAMS* params, int declared) {
  if (params && params->cNamedArgs > 0 && params->rgdispidNamedArgs) {
    for (UINT i = 0; i < params->cNamedArgs; ++i)
      if (params->rgdispidNamedArgs[i] == static_cast<DISPID>(position)) return i;
  }
  return static_cast<UINT>(declared - 1) - position;
}

}  // namespace jtz
