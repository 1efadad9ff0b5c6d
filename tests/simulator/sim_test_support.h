// Helpers of the simulator tests: creating the component through the class
// registry, calling its members by shape, and a counting event sink.
#pragma once

#include <gtest/gtest.h>

#include <oaidl.h>
#include <ocidl.h>

#include "scanmontura_sim.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace simtest {

using OleString = std::basic_string<OLECHAR>;

inline const CLSID kClsid = {
    0x834FBEE5, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
inline const IID kIidIScanMontura = {
    0x834FBEE1, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
inline const IID kIidEvents = {
    0x834FBEE3, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};

inline OleString Ole(const char* s) {
  OleString out;
  while (*s) out.push_back(static_cast<OLECHAR>(static_cast<unsigned char>(*s++)));
  return out;
}

inline std::string Narrow(const OLECHAR* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(s[i] < 128 ? static_cast<char>(s[i]) : '?');
  return out;
}

struct Variant {
  VARIANT v;
  Variant() { VariantInit(&v); }
  ~Variant() { VariantClear(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* operator&() { return &v; }
  std::string str() const {
    return v.vt == VT_BSTR ? Narrow(v.bstrVal, SysStringLen(v.bstrVal)) : "<not a BSTR>";
  }
};

struct ExcepInfo {
  EXCEPINFO e{};
  ~ExcepInfo() { clear(); }
  void clear() {
    SysFreeString(e.bstrSource);
    SysFreeString(e.bstrDescription);
    SysFreeString(e.bstrHelpFile);
    e = EXCEPINFO{};
  }
  std::string source() const {
    return e.bstrSource ? Narrow(e.bstrSource, SysStringLen(e.bstrSource)) : "";
  }
  std::string description() const {
    return e.bstrDescription ? Narrow(e.bstrDescription, SysStringLen(e.bstrDescription)) : "";
  }
};

inline VARIANT I4(LONG l) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = l;
  return v;
}
inline VARIANT I2(SHORT s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = s;
  return v;
}
inline VARIANT Int(INT i) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_INT;
  v.intVal = i;
  return v;
}
inline VARIANT UI1(BYTE b) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI1;
  v.bVal = b;
  return v;
}
inline VARIANT Bool(bool b) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

// Owns a VT_BSTR argument.
struct BstrArg {
  VARIANT v;
  explicit BstrArg(const OleString& s) {
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  }
  explicit BstrArg(const char* s) : BstrArg(Ole(s)) {}
  ~BstrArg() { VariantClear(&v); }
  BstrArg(const BstrArg&) = delete;
  BstrArg& operator=(const BstrArg&) = delete;
};

// The component, with the members called in their three shapes.
class Component {
 public:
  Component() {
    HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&disp_));
    EXPECT_EQ(hr, S_OK);
    if (disp_) disp_->QueryInterface(IID_ISimControl, reinterpret_cast<void**>(&ctl_));
    EXPECT_NE(ctl_, nullptr);
  }
  ~Component() {
    if (ctl_) ctl_->Release();
    if (disp_) disp_->Release();
  }
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  IDispatch* disp() const { return disp_; }
  ISimControl* ctl() const { return ctl_; }

  HRESULT Raw(DISPID id, WORD flags, DISPPARAMS* p, VARIANT* result, EXCEPINFO* ei = nullptr,
              UINT* argErr = nullptr) {
    return disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, p, result, ei, argErr);
  }
  HRESULT Get(DISPID id, VARIANT* result, EXCEPINFO* ei = nullptr) {
    DISPPARAMS p{nullptr, nullptr, 0, 0};
    return Raw(id, DISPATCH_PROPERTYGET, &p, result, ei);
  }
  HRESULT Put(DISPID id, VARIANT value, EXCEPINFO* ei = nullptr, UINT* argErr = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS p{&value, &named, 1, 1};
    Variant ignored;
    return Raw(id, DISPATCH_PROPERTYPUT, &p, &ignored, ei, argErr);
  }
  HRESULT PutText(DISPID id, const char* text, EXCEPINFO* ei = nullptr) {
    BstrArg arg(text);
    return Put(id, arg.v, ei);
  }
  // Arguments given in rgvarg order (last parameter first).
  HRESULT Call(DISPID id, VARIANT* result = nullptr, VARIANT* args = nullptr, UINT n = 0,
               EXCEPINFO* ei = nullptr) {
    DISPPARAMS p{args, nullptr, n, 0};
    Variant ignored;
    return Raw(id, DISPATCH_METHOD, &p, result ? result : &ignored, ei);
  }

  LONG GetI4(DISPID id) {
    Variant r;
    EXPECT_EQ(Get(id, &r), S_OK);
    EXPECT_EQ(r.v.vt, VT_I4);
    return r.v.lVal;
  }
  SHORT GetI2(DISPID id) {
    Variant r;
    EXPECT_EQ(Get(id, &r), S_OK);
    EXPECT_EQ(r.v.vt, VT_I2);
    return r.v.iVal;
  }
  bool GetBool(DISPID id) {
    Variant r;
    EXPECT_EQ(Get(id, &r), S_OK);
    EXPECT_EQ(r.v.vt, VT_BOOL);
    return r.v.boolVal != 0;
  }
  float GetR4(DISPID id) {
    Variant r;
    EXPECT_EQ(Get(id, &r), S_OK);
    EXPECT_EQ(r.v.vt, VT_R4);
    return r.v.fltVal;
  }
  std::string GetStr(DISPID id) {
    Variant r;
    EXPECT_EQ(Get(id, &r), S_OK);
    return r.str();
  }
  std::string Text() { return GetStr(DISPID_TEXT); }

 private:
  IDispatch* disp_ = nullptr;
  ISimControl* ctl_ = nullptr;
};

// An event sink that counts what it receives, per DISPID, and can act on
// each call (change a by-reference key, release something...).
class CountingSink final : public IDispatch {
 public:
  using Action = std::function<void(DISPID, DISPPARAMS*)>;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, kIidEvents)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {  // lives on the test's stack
    LONG n = --refs_;
    if (n == 0) {
      std::lock_guard<std::mutex> lock(mu_);
      released_.notify_all();
    }
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* p,
                                   VARIANT* result, EXCEPINFO* ei, UINT* argErr) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++counts_[id];
      ++total_;
      lastThread_ = std::this_thread::get_id();
      badCall_ |= !IsEqualIID(riid, IID_NULL) || flags != DISPATCH_METHOD || result || ei || argErr;
      order_.push_back(id);
    }
    if (action_) action_(id, p);
    return S_OK;
  }

  void OnEach(Action a) { action_ = std::move(a); }
  int Count(DISPID id) {
    std::lock_guard<std::mutex> lock(mu_);
    return counts_[id];
  }
  int Total() {
    std::lock_guard<std::mutex> lock(mu_);
    return total_;
  }
  std::vector<DISPID> Order() {
    std::lock_guard<std::mutex> lock(mu_);
    return order_;
  }
  std::thread::id LastThread() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastThread_;
  }
  bool BadCall() {
    std::lock_guard<std::mutex> lock(mu_);
    return badCall_;
  }
  LONG Refs() const { return refs_.load(); }
  // Waits until every reference handed out has come back.
  void WaitUntilReleased() {
    std::unique_lock<std::mutex> lock(mu_);
    released_.wait(lock, [&] { return refs_.load() == 0; });
  }

 private:
  std::atomic<LONG> refs_{0};
  std::mutex mu_;
  std::condition_variable released_;
  std::map<DISPID, int> counts_;
  std::vector<DISPID> order_;
  int total_ = 0;
  std::thread::id lastThread_;
  bool badCall_ = false;
  Action action_;
};

// Advises a sink on the component's connection point for the test's scope.
class Advised {
 public:
  Advised(IDispatch* component, IUnknown* sink) {
    IConnectionPointContainer* cpc = nullptr;
    EXPECT_EQ(
        component->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)),
        S_OK);
    EXPECT_EQ(cpc->FindConnectionPoint(kIidEvents, &cp_), S_OK);
    cpc->Release();
    EXPECT_EQ(cp_->Advise(sink, &cookie_), S_OK);
  }
  ~Advised() {
    if (cookie_) cp_->Unadvise(cookie_);
    cp_->Release();
  }
  Advised(const Advised&) = delete;
  Advised& operator=(const Advised&) = delete;
  DWORD cookie() const { return cookie_; }
  IConnectionPoint* point() const { return cp_; }
  HRESULT Unadvise() {
    HRESULT hr = cp_->Unadvise(cookie_);
    cookie_ = 0;
    return hr;
  }

 private:
  IConnectionPoint* cp_ = nullptr;
  DWORD cookie_ = 0;
};

constexpr DISPID kOnChange = 1, kOnClick = 2, kOnDblClick = 3, kOnKeyPress = 9;

}  // namespace simtest
