// Small helpers of the platform tests.
#pragma once

#include <gtest/gtest.h>
#include <posixcom/com.h>

#include <string>

// A COM object that only counts its references (it lives on the stack or in a
// fixture, never deleted through Release).
struct CountedUnknown : IUnknown {
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      AddRef();
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs); }
};

// An object whose default value (DISPID_VALUE) is its VARIANT `value`; it
// records how it was last asked, and fails with `fails_with` when that is set.
struct DefaultValueObject : IDispatch {
  LONG refs = 1;
  VARIANT value;
  HRESULT fails_with = S_OK;
  std::string asked;

  DefaultValueObject() { VariantInit(&value); }
  DefaultValueObject(const DefaultValueObject&) = delete;
  DefaultValueObject& operator=(const DefaultValueObject&) = delete;
  virtual ~DefaultValueObject() { VariantClear(&value); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    asked = "DISPID " + std::to_string(id) + ", flags " + std::to_string(flags) + ", " +
            std::to_string(params ? params->cArgs : 99) + " arguments";
    if (FAILED(fails_with)) return fails_with;
    if (id != DISPID_VALUE || !result) return DISP_E_MEMBERNOTFOUND;
    return VariantCopy(result, &value);
  }
};

// Owns a BSTR made from UTF-8 test text (ASCII only).
class TestBstr {
 public:
  explicit TestBstr(const std::string& text) {
    std::u16string wide(text.begin(), text.end());
    bstr_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  TestBstr(const TestBstr&) = delete;
  TestBstr& operator=(const TestBstr&) = delete;
  ~TestBstr() { SysFreeString(bstr_); }
  BSTR get() const { return bstr_; }

 private:
  BSTR bstr_;
};

inline std::string narrow(const OLECHAR* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) out += static_cast<char>(text[i]);
  return out;
}

inline std::string narrow(BSTR bstr) { return narrow(bstr, SysStringLen(bstr)); }

// Fails the test when it leaves more or fewer BSTRs alive than it found.
class BstrLeakCheck : public ::testing::Test {
 protected:
  void SetUp() override { live_at_start_ = jtzcom_live_bstrs(); }
  void TearDown() override { EXPECT_EQ(jtzcom_live_bstrs(), live_at_start_) << "BSTRs leaked"; }

 private:
  long live_at_start_ = 0;
};
