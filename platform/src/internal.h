// Helpers shared by the sources of libjtzcom (not exported).
#pragma once

#include <posixcom/com.h>

#include <new>
#include <string>

namespace jtzcom {

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits of either case)
// from exactly `length` characters.
template <typename Char>
bool parse_guid(const Char* text, size_t length, GUID* out) {
  static const char kPattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (length != sizeof kPattern - 1) return false;
  BYTE bytes[16] = {};
  int nibble = 0;
  for (size_t i = 0; i < length; ++i) {
    const char32_t c = static_cast<char32_t>(text[i]);
    if (kPattern[i] != 'X') {
      if (c != static_cast<char32_t>(kPattern[i])) return false;
      continue;
    }
    int value;
    if (c >= '0' && c <= '9')
      value = static_cast<int>(c - '0');
    else if (c >= 'A' && c <= 'F')
      value = static_cast<int>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      value = static_cast<int>(c - 'a' + 10);
    else
      return false;
    bytes[nibble / 2] = static_cast<BYTE>(bytes[nibble / 2] << 4 | value);
    ++nibble;
  }
  // The text is big-endian field by field: Data1, Data2, Data3, then Data4 bytes.
  out->Data1 = static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
               static_cast<DWORD>(bytes[2]) << 8 | bytes[3];
  out->Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
  out->Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) out->Data4[i] = bytes[8 + i];
  return true;
}

// Whether a VARIANT may carry the type tag `vt`, by Windows' rules: a base
// type from VT_EMPTY to VT_UINT but 15, or VT_RECORD or VT_CLSID; VT_BYREF and
// VT_ARRAY only on a base type beyond VT_NULL; never VT_VECTOR or VT_RESERVED.
bool valid_vartype(VARTYPE vt);

// Size of the value that a VT_BYREF of base type `base` points at, for the
// types whose value can be read through the reference; 0 for the others
// (VT_EMPTY, VT_NULL, VT_VARIANT, VT_RECORD, VT_CLSID).
size_t referenced_size(VARTYPE base);

// Owns a VARIANT and clears it at the end of its scope.
class OwnedVariant {
 public:
  OwnedVariant() { VariantInit(&v_); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  ~OwnedVariant() { VariantClear(&v_); }
  VARIANT* get() { return &v_; }
  // Hands the value over; this one is empty afterwards.
  VARIANT release() {
    VARIANT v = v_;
    VariantInit(&v_);
    return v;
  }

 private:
  VARIANT v_;
};

// The HRESULT for the C++ exception being handled: E_OUTOFMEMORY for a failed
// allocation, E_UNEXPECTED for anything else. Exported functions that
// allocate end in `catch (...) { return jtzcom::hresult_of_current_exception(); }`,
// so that no C++ exception leaves the library.
inline HRESULT hresult_of_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// Upper-case text form in braces, 38 characters.
std::string guid_text(REFGUID guid);

// Where the class registry is: $JTZCOM_REGISTRY, else "com-registry" next to
// libjtzcom itself.
std::string registry_path();

// The module path registered for `clsid` (absolute, or relative to the
// current directory when the registry named it so), or "" when the class is
// not registered; then *why says so, naming the registry file (and the
// system's reason when it cannot be read).
std::string find_server_module(REFCLSID clsid, std::string* why);

// Owns one reference to a COM object and releases it at the end of its scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* adopted) : p_(adopted) {}
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives up ownership without releasing.
  T* release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset() {
    if (p_) release()->Release();
  }
  // Releases the current object and returns the address to fill with a new one.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

}  // namespace jtzcom
