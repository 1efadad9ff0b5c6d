// Small COM helpers of the simulated component: owners for VARIANTs and
// interface pointers, a base class that puts objects in task memory, and
// UTF-16 strings.
//
//   UniqueVariant v;  VariantChangeType(v.put(), &in, 0, VT_I4);   // cleared at scope end
//   ComPtr<IDispatch> d;  unk->QueryInterface(IID_IDispatch, d.put_void());  // released at scope
//   end
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#if defined(_WIN32)
// CONNECT_E_* and the standard DISPIDs live here in the Windows SDK.
#include <olectl.h>
#endif

#include <cstddef>
#include <new>
#include <string>

#if defined(_WIN32)
#define SIM_TEXT(s) L##s
#else
#define SIM_TEXT(s) u##s
#endif

namespace sim {

using OleString = std::basic_string<OLECHAR>;

inline OleString ToOleString(const char* ascii) {
  OleString out;
  while (*ascii) out.push_back(static_cast<OLECHAR>(static_cast<unsigned char>(*ascii++)));
  return out;
}

inline OleString FromBstr(BSTR b) { return b ? OleString(b, SysStringLen(b)) : OleString(); }

// The HRESULT for the C++ exception being handled: E_OUTOFMEMORY for a failed
// allocation, E_UNEXPECTED for anything else. COM methods that allocate end
// in `catch (...) { return HresultOfCurrentException(); }`, so that no C++
// exception leaves them.
inline HRESULT HresultOfCurrentException() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// COM objects of this module live in task memory: on x86-64 hosts that lies
// below 2 GiB, where a 32-bit Java int can hold an interface pointer.
struct TaskMemObject {
  static void* operator new(std::size_t) = delete;
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return CoTaskMemAlloc(size);
  }
  // Plain new is deleted on purpose (objects come from the nothrow form only), and delete
  // frees what that made.
  // NOLINTNEXTLINE(misc-new-delete-overloads,cert-dcl54-cpp)
  static void operator delete(void* p) noexcept { CoTaskMemFree(p); }
  static void operator delete(void* p, const std::nothrow_t&) noexcept { CoTaskMemFree(p); }
};

// The IUnknown of an object that has one interface I: it answers IUnknown and
// the IIDs its Answers() accepts with I, counts its references and deletes
// itself with the last one.
//   class TypeInfo final : public OneInterfaceObject<ITypeInfo> {
//     bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_ITypeInfo); }
//     ...
template <class I>
class OneInterfaceObject : public I, public TaskMemObject {
 public:
  OneInterfaceObject(const OneInterfaceObject&) = delete;
  OneInterfaceObject& operator=(const OneInterfaceObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || Answers(riid)) {
      *ppv = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 protected:
  OneInterfaceObject() = default;
  virtual ~OneInterfaceObject() = default;
  // Whether the object answers riid (other than IUnknown) with I.
  virtual bool Answers(REFIID riid) const = 0;

 private:
  LONG refs_ = 1;
};

class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&v_); }
  ~UniqueVariant() { VariantClear(&v_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  // Clears the held value and returns the VARIANT to fill.
  VARIANT* put() {
    VariantClear(&v_);
    return &v_;
  }
  // Hands the value to *out (which must hold nothing) and leaves VT_EMPTY here.
  void release(VARIANT* out) {
    *out = v_;
    VariantInit(&v_);
  }

 private:
  VARIANT v_;
};

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  // Takes over a reference the caller already holds.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Adds a reference of its own.
  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) {
      T* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }
  T* release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void** put_void() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

}  // namespace sim
