// A fake in-process server: a class factory and a counted object per class.
#include "test_server.h"

namespace {

TestServerCounters counters;

bool is_served(REFCLSID clsid) {
  return clsid == kDefaultRegistryClass || clsid == kTestRegistryClass ||
         clsid == kRuntimeRegistryClass || clsid == kRacedClass;
}

class TestObject : public ITestObject {
 public:
  explicit TestObject(REFCLSID clsid) : clsid_(clsid) {
    InterlockedIncrement(&counters.live_objects);
  }
  virtual ~TestObject() { InterlockedDecrement(&counters.live_objects); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITestObject) {
      AddRef();
      *ppv = static_cast<ITestObject*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }
  HRESULT STDMETHODCALLTYPE GetClass(CLSID* clsid) override {
    *clsid = clsid_;
    return S_OK;
  }

 private:
  LONG refs_ = 1;
  CLSID clsid_;
};

class Factory : public IClassFactory {
 public:
  explicit Factory(REFCLSID clsid) : clsid_(clsid) {
    InterlockedIncrement(&counters.live_factories);
  }
  virtual ~Factory() { InterlockedDecrement(&counters.live_factories); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      AddRef();
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    TestObject* object = new TestObject(clsid_);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  LONG refs_ = 1;
  CLSID clsid_;
};

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  *ppv = nullptr;
  if (!is_served(rclsid)) return CLASS_E_CLASSNOTAVAILABLE;
  Factory* factory = new Factory(rclsid);
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  if (SUCCEEDED(hr)) InterlockedIncrement(&counters.class_objects);
  return hr;
}

extern "C" __attribute__((visibility("default"))) const TestServerCounters*
jtz_test_server_counters() {
  return &counters;
}
