#include "event_sink.h"

#include <windows.h>

#include "guids.h"
#include "runtime.h"

#include <new>

namespace jtz {

ScanMonturaEventSink* ScanMonturaEventSink::Allocate() {
  // COM objects come from CoTaskMemAlloc, which on 64-bit hosts keeps their
  // addresses within the 32-bit event-id field.
  void* memory = CoTaskMemAlloc(sizeof(ScanMonturaEventSink));
  return memory ? new (memory) ScanMonturaEventSink() : nullptr;
}

void ScanMonturaEventSink::Start(jobject javaObject, unsigned char serverSide,
                                 jobject serverSideValue) {
  javaObject_ = javaObject;
  serverSide_ = serverSide;
  serverSideValue_ = serverSideValue;
  refCount_.store(1, std::memory_order_release);
}

ScanMonturaEventSink* ScanMonturaEventSink::Create(jobject listener) {
  ScanMonturaEventSink* sink = Allocate();
  if (sink) sink->Start(ezjcomGetJniEnv()->NewGlobalRef(listener), 0, nullptr);
  return sink;
}

ScanMonturaEventSink* ScanMonturaEventSink::CreateServerSide(JNIEnv* env, jstring interfaceName,
                                                             jobject javaObject) {
  ScanMonturaEventSink* sink = Allocate();
  if (sink) {
    jobject name = env->NewGlobalRef(interfaceName);
    sink->Start(ezjcomGetJniEnv()->NewGlobalRef(javaObject), 1, name);
  }
  return sink;
}

HRESULT STDMETHODCALLTYPE ScanMonturaEventSink::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) ||
      IsEqualGUID(riid, kIidIScanMonturaEvents)) {
    if (AddRef() == 0) {  // a dead sink hands out no interface
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
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

// The count changes only while the sink lives: a dead sink (count 0) is
// neither brought back by AddRef nor released again by Release; both answer 0.
ULONG STDMETHODCALLTYPE ScanMonturaEventSink::AddRef() {
  LONG n = refCount_.load(std::memory_order_relaxed);
  do {
    if (n <= 0) return 0;
  } while (!refCount_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel,
                                            std::memory_order_relaxed));
  return static_cast<ULONG>(n + 1);
}

// The count that remains is the decrement's own result: once it is made,
// another thread's Release may already have ended the sink.
ULONG STDMETHODCALLTYPE ScanMonturaEventSink::Release() {
  LONG n = refCount_.load(std::memory_order_relaxed);
  do {
    if (n <= 0) return 0;
  } while (!refCount_.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel,
                                            std::memory_order_relaxed));
  if (n - 1 > 0) return static_cast<ULONG>(n - 1);
  JNIEnv* env = ezjcomGetJniEnv();
  env->DeleteGlobalRef(javaObject_);
  // The interface-name reference was made for this sink alone.
  if (serverSideValue_) env->DeleteGlobalRef(serverSideValue_);
  javaObject_ = nullptr;
  serverSideValue_ = nullptr;
  serverSide_ = 0;
  return 0;  // dead for good: the memory stays, never reused (see the header)
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
