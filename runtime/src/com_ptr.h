// Owns one COM reference and releases it at the end of its scope.
//
//   ComPtr<IConnectionPointContainer> cpc;
//   HRESULT hr = unk->QueryInterface(IID_IConnectionPointContainer, cpc.put());
//   if (FAILED(hr)) return hr;
#pragma once

#include <utility>

namespace ezjcom {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : p_(p) {}
  ComPtr(ComPtr&& o) noexcept : p_(o.release()) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.release();
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* release() { return std::exchange(p_, nullptr); }
  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Gives up the old reference and returns the address to fill.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  // The same, typed, for calls that fill a T*.
  T** put_typed() {
    reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace ezjcom
