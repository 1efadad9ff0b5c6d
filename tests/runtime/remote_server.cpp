// An in-process server for the remote-creation tests: one class whose objects
// answer Invoke(1) with their reference count and Invoke(2) with the number
// of objects alive.
#include <oaidl.h>
#include <objbase.h>

#include <atomic>

namespace {

// {7C3D0001-4B2A-4E19-9F10-2B3C4D5E6F01} and {7C3D0003-4B2A-4E19-9F10-2B3C4D5E6F03}:
// the same class under two CLSIDs.
const CLSID kClasses[] = {
    {0x7C3D0001, 0x4B2A, 0x4E19, {0x9F, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x01}},
    {0x7C3D0003, 0x4B2A, 0x4E19, {0x9F, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x03}},
};

std::atomic<long> g_alive{0};

struct Object final : IDispatch {
  std::atomic<ULONG> refs{1};
  Object() { ++g_alive; }
  ~Object() { --g_alive; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (!result) return E_POINTER;
    result->vt = VT_I4;
    if (id == 1) {
      result->lVal = static_cast<LONG>(refs.load());
    } else if (id == 2) {
      result->lVal = static_cast<LONG>(g_alive.load());
    } else {
      return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
  }
};

struct Factory : IClassFactory {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static object
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Object* o = new Object;
    const HRESULT hr = o->QueryInterface(iid, out);
    o->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  *out = nullptr;
  if (clsid != kClasses[0] && clsid != kClasses[1]) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}
