// Small COM fakes for the runtime tests: an event sink, and a component with
// one connection point, each counting its references. They live in
// CoTaskMemAlloc memory, whose addresses fit a 32-bit Java int field.
//
//   auto* sink = make<FakeSink>();
//   const jint value = bind_event_id(env, listener, sink);
#pragma once

#include <jni.h>
#include <objbase.h>
#include <ocidl.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "runtime_api.h"

extern "C" JNIEXPORT void JNICALL Java_ezjcom_JComObject__1_1JComRelease(JNIEnv*, jclass, jint);

namespace rtest {

// The event interface our fake sinks serve.
inline const IID kFakeEventsIid = {
    0x5E1F0001, 0x7A2B, 0x4C3D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};
// Asked of a sink, answers the address of its event IID.
inline const IID kEventIidQuery = {
    0xB14F3C49, 0x0C7B, 0x4439, {0xA2, 0x48, 0x62, 0x29, 0xFE, 0x6D, 0x96, 0x05}};

template <class T, class... Args>
T* make(Args&&... args) {
  void* at = CoTaskMemAlloc(sizeof(T));
  return new (at) T(static_cast<Args&&>(args)...);
}

template <class T>
void destroy(T* p) {
  p->~T();
  CoTaskMemFree(p);
}

inline jint as_field(const void* p) {
  return static_cast<jint>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
}

// A com-id value bound to p (the runtime's operations that take one take only
// values it bound), with a reference of its own: one added here, or with
// kAdopt the one the caller holds. Given back with __JComRelease at the end
// of the scope.
enum BindHow { kAddRef, kAdopt };
class Bound {
 public:
  explicit Bound(IUnknown* p, BindHow how = kAddRef) {
    if (!p) return;
    if (how == kAddRef) p->AddRef();
    value_ = ezjcomTestBind(p);
  }
  Bound(const Bound&) = delete;
  Bound& operator=(const Bound&) = delete;
  ~Bound() {
    if (value_) Java_ezjcom_JComObject__1_1JComRelease(nullptr, nullptr, value_);
  }
  jint value() const { return value_; }

 private:
  jint value_ = 0;
};

// Binds wrapper's com-id field to p with a reference of its own.
inline void bind_com_id(JNIEnv* env, jobject wrapper, IUnknown* p) {
  p->AddRef();
  ezjcomStoreComId(env, wrapper, p);
}

// Puts sink (its creation reference) in listener's event-id field, as the
// bridge does: the value the field then holds.
inline jint bind_event_id(JNIEnv* env, jobject listener, IUnknown* sink) {
  ezjcomStoreEventId(env, listener, sink);
  jclass cls = env->GetObjectClass(listener);
  const jint value = env->GetIntField(listener, env->GetFieldID(cls, "eventId", "I"));
  env->DeleteLocalRef(cls);
  return value;
}

// Gives back the binding of wrapper's com-id field, as JComObject.close does.
inline void unbind_com_id(JNIEnv* env, jobject wrapper) {
  jclass cls = env->GetObjectClass(wrapper);
  jfieldID field = env->GetFieldID(cls, "comId", "I");
  env->DeleteLocalRef(cls);
  const jint value = env->GetIntField(wrapper, field);
  env->SetIntField(wrapper, field, 0);
  if (value) Java_ezjcom_JComObject__1_1JComRelease(nullptr, nullptr, value);
}

// An event sink. Its last Release marks it destroyed (the memory stays for
// the test to look at; the test frees it).
struct FakeSink : IUnknown {
  std::atomic<LONG> refs{1};
  std::atomic<int> releases{0};
  bool answers_event_iid = true;
  bool destroyed = false;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown) {
      *out = this;
      AddRef();
      return S_OK;
    }
    if (iid == kEventIidQuery && answers_event_iid) {
      *out = const_cast<IID*>(&kFakeEventsIid);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    ++releases;
    const LONG left = --refs;
    if (left == 0) destroyed = true;
    return static_cast<ULONG>(left);
  }
};

// A component with a connection point for kFakeEventsIid. Failures of each
// step can be set.
struct FakeComponent : IConnectionPointContainer {
  struct Point : IConnectionPoint {
    FakeComponent* owner = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
        *out = this;
        AddRef();
        return S_OK;
      }
      *out = nullptr;
      return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++owner->point_refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--owner->point_refs); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
      *iid = kFakeEventsIid;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override {
      *c = owner;
      owner->AddRef();
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
      if (FAILED(owner->advise_result)) return owner->advise_result;
      sink->AddRef();
      owner->sinks.push_back(sink);
      *cookie = owner->next_cookie++;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
      owner->unadvised.push_back(cookie);
      if (FAILED(owner->unadvise_result)) return owner->unadvise_result;
      const DWORD first = owner->first_cookie;
      if (cookie < first || cookie - first >= owner->sinks.size() || !owner->sinks[cookie - first])
        return CONNECT_E_NOCONNECTION;
      std::exchange(owner->sinks[cookie - first], nullptr)->Release();
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }
  };

  std::atomic<LONG> refs{1};
  std::atomic<LONG> point_refs{0};
  Point point;
  bool offers_container = true;
  HRESULT advise_result = S_OK;
  HRESULT unadvise_result = S_OK;
  DWORD first_cookie = 41;
  DWORD next_cookie = 41;
  std::vector<IUnknown*> sinks;  // by cookie - first_cookie; null once unadvised
  std::vector<IID> asked;        // FindConnectionPoint's IIDs
  std::vector<DWORD> unadvised;  // Unadvise's cookies

  FakeComponent() { point.owner = this; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || (offers_container && iid == IID_IConnectionPointContainer)) {
      *out = static_cast<IConnectionPointContainer*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** cp) override {
    asked.push_back(iid);
    if (iid != kFakeEventsIid) {
      *cp = nullptr;
      return CONNECT_E_NOCONNECTION;
    }
    *cp = &point;
    point.AddRef();
    return S_OK;
  }
};

// A dispatch object that records its last Invoke and answers with a set
// HRESULT; its Invoke puts the result VT_I4 7 and, on DISP_E_EXCEPTION, fills
// the exception information's scode.
struct FakeDispatch : IDispatch {
  std::atomic<LONG> refs{1};
  int invokes = 0;
  int queries = 0;
  DISPID dispid = 0;
  LCID lcid = 0;
  WORD flags = 0;
  DISPPARAMS* params = nullptr;
  VARIANT* result = nullptr;
  EXCEPINFO* excep = nullptr;
  UINT* arg_err = nullptr;
  bool riid_was_null = false;
  HRESULT answer = S_OK;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    ++queries;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD f, DISPPARAMS* p,
                                   VARIANT* r, EXCEPINFO* e, UINT* a) override {
    ++invokes;
    dispid = id;
    riid_was_null = iid == IID_NULL;
    lcid = locale;
    flags = f;
    params = p;
    result = r;
    excep = e;
    arg_err = a;
    if (r) {
      r->vt = VT_I4;
      r->lVal = 7;
    }
    if (answer == DISP_E_EXCEPTION && e) e->scode = E_INVALIDARG;
    return answer;
  }
};

}  // namespace rtest
