// What the JVM targets' fuzzed VARIANTs hold by reference.
#pragma once

#include <oaidl.h>

#include <cstddef>

namespace jtz::fuzz {

// The size of the value a VT_BYREF VARIANT of base type `base` points to (8 for the types of
// 8 bytes and for those a fuzzed input may name but no VARIANT holds).
inline std::size_t referenced_size(VARTYPE base) {
  switch (base) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return sizeof(void*);
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return 8;
  }
}

}  // namespace jtz::fuzz
