// VARIANT lifetime and copies.
//
// Type tags are validated as Windows does (valid_vartype). No SAFEARRAY and no
// record type can be made here, so a VT_ARRAY or VT_RECORD VARIANT is only
// accepted without its payload: a null array, a record without record
// information. One with a payload is refused with DISP_E_BADVARTYPE and left
// as it is.
#include "internal.h"

#include <cstring>

namespace jtzcom {

bool valid_vartype(VARTYPE vt) {
  if (vt & (VT_VECTOR | VT_RESERVED)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (!(base < VT_VOID || base == VT_RECORD || base == VT_CLSID) || base == 15) return false;
  return !((vt & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL);
}

size_t referenced_size(VARTYPE base) {
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
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8: return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return 0;
  }
}

}  // namespace jtzcom

namespace {

bool has_payload(const VARIANT& v) {
  if (v.vt & VT_BYREF) return false;
  if (v.vt & VT_ARRAY) return v.parray != nullptr;
  return v.vt == VT_RECORD && v.brecVal.pRecInfo != nullptr;
}

// Fills `out` with a copy of `src` that owns its own value: a new BSTR with the
// same bytes (an empty one for a null BSTR), one more reference to an object.
// A VT_BYREF is copied as the reference it is. On failure `out` is VT_EMPTY.
HRESULT duplicate(const VARIANT& src, VARIANT* out) {
  if (has_payload(src)) return DISP_E_BADVARTYPE;
  *out = src;
  if (src.vt == VT_BSTR) {
    out->bstrVal =
        SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src.bstrVal), SysStringByteLen(src.bstrVal));
    if (!out->bstrVal) {
      out->vt = VT_EMPTY;
      return E_OUTOFMEMORY;
    }
  } else if ((src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) && src.punkVal) {
    src.punkVal->AddRef();
  }
  return S_OK;
}

}  // namespace

JTZCOM_API void VariantInit(VARIANTARG* pvarg) { std::memset(pvarg, 0, sizeof *pvarg); }

JTZCOM_API HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  const VARTYPE vt = pvarg->vt;
  if (!jtzcom::valid_vartype(vt) || has_payload(*pvarg)) return DISP_E_BADVARTYPE;
  pvarg->vt = VT_EMPTY;  // first: a Release below may look at this VARIANT again
  if (vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && pvarg->punkVal) {
    pvarg->punkVal->Release();
  }
  return S_OK;
}

// The source is checked even when it is the destination. The destination is
// cleared only once the copy exists, so a failure leaves it as it was.
JTZCOM_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (!jtzcom::valid_vartype(pvargSrc->vt) || (pvargSrc->vt & VT_TYPEMASK) == VT_CLSID)
    return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy;
  if (HRESULT hr = duplicate(*pvargSrc, &copy); FAILED(hr)) return hr;
  if (HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

// A reference is followed once, or twice through a VT_BYREF | VT_VARIANT; a
// reference to a VARIANT that is itself such a reference is E_INVALIDARG. The
// destination may be the source. A null reference is E_INVALIDARG (Windows
// reads through it).
JTZCOM_API HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (!pvarDest || !pvargSrc) return E_INVALIDARG;
  const VARIANT& src = *pvargSrc;
  if (!(src.vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
  if (!jtzcom::valid_vartype(src.vt) || !src.byref) return E_INVALIDARG;
  const VARTYPE base = src.vt & VT_TYPEMASK;

  // The referenced value as a VARIANT of its own, owning nothing.
  VARIANT value;
  VariantInit(&value);
  if (src.vt & VT_ARRAY) {
    value.parray = *src.pparray;
  } else if (base == VT_VARIANT) {
    value = *src.pvarVal;
    if (value.vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    if (value.vt & VT_BYREF) return VariantCopyInd(pvarDest, &value);
  } else if (const size_t size = jtzcom::referenced_size(base); size == 0) {
    return E_INVALIDARG;
  } else if (base == VT_DECIMAL) {
    std::memcpy(&value.decVal, src.byref, size);  // overlays vt: set below
  } else {
    std::memcpy(&value.llVal, src.byref, size);
  }
  if (base != VT_VARIANT) value.vt = src.vt & ~VT_BYREF;
  return VariantCopy(pvarDest, &value);
}
