// VariantChangeType: conversions between the scalar Automation types.
//
// Covered: VT_EMPTY, VT_BOOL, the integer types (VT_I1, VT_UI1, VT_I2, VT_UI2,
// VT_I4, VT_UI4, VT_INT, VT_UINT), VT_R4, VT_R8 and VT_BSTR, from a value, a
// VT_BYREF, or a VARIANT that a VT_BYREF | VT_VARIANT refers to; any type to
// VT_EMPTY or VT_NULL; any type to itself (a copy); a VT_DISPATCH to the others
// through the object's default value. The rules are Windows': integers are
// range checked (DISP_E_OVERFLOW) but keep their bits between the signed and
// unsigned type of one size, floating point becomes an integer by rounding
// half to even, VARIANT_TRUE is -1, and text is read and written as in
// English (United States), see number_text.h.
#include "internal.h"
#include "number_text.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace {

// A number read from a source.
struct Number {
  enum Kind { kInteger, kReal, kBits } kind = kInteger;
  LONGLONG i = 0;  // kInteger
  int width = 0;   // kInteger: bits of the source type; 0 for VT_EMPTY
  bool is_bool = false;
  double d = 0;        // kReal
  ULONGLONG bits = 0;  // kBits: a hexadecimal or octal number from text
};

template <typename T>
T load(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

// Integer targets: range and size.
struct IntegerType {
  VARTYPE vt;
  LONGLONG lo, hi;
  int width;
};
constexpr IntegerType kIntegers[] = {
    {VT_I1, -128, 127, 8},
    {VT_UI1, 0, 255, 8},
    {VT_I2, -32768, 32767, 16},
    {VT_UI2, 0, 65535, 16},
    {VT_I4, -2147483647LL - 1, 2147483647, 32},
    {VT_INT, -2147483647LL - 1, 2147483647, 32},
    {VT_UI4, 0, 4294967295LL, 32},
    {VT_UINT, 0, 4294967295LL, 32},
};

const IntegerType* integer_type(VARTYPE vt) {
  for (const IntegerType& t : kIntegers)
    if (t.vt == vt) return &t;
  return nullptr;
}

double round_half_even(double x) {
  double r = std::floor(x);
  const double fraction = x - r;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
  return r;
}

bool equals_ignoring_case(const OLECHAR* text, size_t length, const char* word) {
  if (length != std::strlen(word)) return false;
  for (size_t i = 0; i < length; ++i) {
    OLECHAR c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<OLECHAR>(c - u'A' + u'a');
    if (c != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

// Text read as a number, or for VT_BOOL also as one of the words that stand
// for a boolean.
HRESULT read_text(BSTR text, VARTYPE target, Number* out) {
  if (!text) return DISP_E_TYPEMISMATCH;
  const size_t length = SysStringLen(text);
  if (target == VT_BOOL) {
    size_t n = 0;
    while (n < length && text[n]) ++n;
    for (const char* word : {"true", "#true#", "false", "#false#"}) {
      if (equals_ignoring_case(text, n, word)) {
        out->i = word[0] == 'f' || word[1] == 'f' ? VARIANT_FALSE : VARIANT_TRUE;
        out->is_bool = true;
        out->width = 16;
        return S_OK;
      }
    }
  }
  jtzcom::ParsedNumber parsed;
  if (HRESULT hr = jtzcom::parse_number(text, length, &parsed); FAILED(hr)) return hr;
  if (parsed.is_bits) {
    out->kind = Number::kBits;
    out->bits = parsed.bits;
  } else {
    out->kind = Number::kReal;
    out->d = parsed.value;
  }
  return S_OK;
}

// Reads the number held by a source of base type `base` whose value is at `data`.
HRESULT read_number(VARTYPE base, const void* data, VARTYPE target, Number* out) {
  auto integer = [out](LONGLONG value, int width) {
    out->i = value;
    out->width = width;
    return S_OK;
  };
  switch (base) {
    case VT_EMPTY: return integer(0, 0);
    case VT_BOOL: out->is_bool = true; return integer(load<VARIANT_BOOL>(data), 16);
    case VT_I1: return integer(load<int8_t>(data), 8);
    case VT_UI1: return integer(load<uint8_t>(data), 8);
    case VT_I2: return integer(load<int16_t>(data), 16);
    case VT_UI2: return integer(load<uint16_t>(data), 16);
    case VT_I4:
    case VT_INT: return integer(load<int32_t>(data), 32);
    case VT_UI4:
    case VT_UINT: return integer(load<uint32_t>(data), 32);
    case VT_R4:
      out->kind = Number::kReal;
      out->d = load<float>(data);
      return S_OK;
    case VT_R8:
      out->kind = Number::kReal;
      out->d = load<double>(data);
      return S_OK;
    case VT_BSTR: return read_text(load<BSTR>(data), target, out);
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT store_integer(const IntegerType& type, const Number& n, VARIANT* out) {
  LONGLONG value;
  switch (n.kind) {
    case Number::kReal: {
      if (std::isnan(n.d)) return DISP_E_OVERFLOW;
      const double r = round_half_even(n.d);
      if (!(r >= static_cast<double>(type.lo) && r <= static_cast<double>(type.hi)))
        return DISP_E_OVERFLOW;
      value = static_cast<LONGLONG>(r);
      break;
    }
    case Number::kBits: {
      // The digits are bits: those of the target's size are taken as they are.
      const ULONGLONG span = ULONGLONG{1} << type.width;
      if (n.bits <= static_cast<ULONGLONG>(type.hi))
        value = static_cast<LONGLONG>(n.bits);
      else if (type.lo < 0 && n.bits < span)
        value = static_cast<LONGLONG>(n.bits) - static_cast<LONGLONG>(span);
      else
        return DISP_E_OVERFLOW;
      break;
    }
    default:
      value = n.i;
      // A boolean, and an integer of the same size, keep their bits (VARIANT_TRUE
      // is 255 as a byte, VT_UI2 65535 is -1 as VT_I2); others must fit.
      if (!n.is_bool && n.width != type.width && (value < type.lo || value > type.hi))
        return DISP_E_OVERFLOW;
  }
  switch (type.vt) {
    case VT_I1: out->cVal = static_cast<CHAR>(static_cast<int8_t>(value)); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(value); break;
    case VT_I2: out->iVal = static_cast<SHORT>(value); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(value); break;
    case VT_I4: out->lVal = static_cast<LONG>(value); break;
    case VT_INT: out->intVal = static_cast<INT>(value); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(value); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(value); break;
  }
  out->vt = type.vt;
  return S_OK;
}

double real_of(const Number& n) {
  switch (n.kind) {
    case Number::kReal: return n.d;
    case Number::kBits: return static_cast<double>(n.bits);
    default: return static_cast<double>(n.i);
  }
}

HRESULT store_text(const std::string& text, VARIANT* out) {
  const std::u16string wide(text.begin(), text.end());
  BSTR bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!bstr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = bstr;
  return S_OK;
}

// A text source never gets here: text to text is a copy.
HRESULT store_number_text(VARTYPE base, const Number& n, USHORT flags, VARIANT* out) {
  if (base == VT_EMPTY) return store_text("", out);
  if (n.is_bool && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)))
    return store_text(n.i ? "True" : "False", out);
  if (n.kind == Number::kReal)
    return store_text(jtzcom::format_real(n.d, base == VT_R4 ? 7 : 15), out);
  return store_text(std::to_string(n.i), out);
}

HRESULT convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, int depth, VARIANT* out);

// The default value of an object (its DISPID_VALUE property), converted. A
// value that is itself an object is not followed further.
HRESULT convert_default_value(IDispatch* object, LCID lcid, USHORT flags, VARTYPE vt, int depth,
                              VARIANT* out) {
  if (!object || (flags & VARIANT_NOVALUEPROP) || depth > 0) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  jtzcom::OwnedVariant value;
  const HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none,
                                    value.get(), nullptr, nullptr);
  if (FAILED(hr)) return hr;
  return convert(*value.get(), lcid, flags, vt, depth + 1, out);
}

// Converts `src` to `vt` into `out`, which is VT_EMPTY and owns the result.
HRESULT convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, int depth, VARIANT* out) {
  if (!jtzcom::valid_vartype(src.vt)) return DISP_E_BADVARTYPE;
  const bool by_reference = src.vt & VT_BYREF;
  if (by_reference && !src.byref) return DISP_E_TYPEMISMATCH;
  const VARTYPE base = src.vt & VT_TYPEMASK;
  if (by_reference && base == VT_VARIANT) {  // the value is the referenced VARIANT's
    const VARIANT& inner = *src.pvarVal;
    if (inner.vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
    return convert(inner, lcid, flags, vt, depth, out);
  }
  if (vt == VT_EMPTY || vt == VT_NULL) {
    out->vt = vt;
    return S_OK;
  }
  if (src.vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
  if (base == vt) return VariantCopyInd(out, &src);

  const void* data = by_reference ? src.byref : static_cast<const void*>(&src.llVal);
  if (base == VT_DISPATCH)
    return convert_default_value(load<IDispatch*>(data), lcid, flags, vt, depth, out);
  Number n;
  if (HRESULT hr = read_number(base, data, vt, &n); FAILED(hr)) return hr;
  if (const IntegerType* type = integer_type(vt)) return store_integer(*type, n, out);
  switch (vt) {
    case VT_R8: out->dblVal = real_of(n); break;
    case VT_R4: {
      const double d = real_of(n);
      if (std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
      break;
    }
    case VT_BOOL: out->boolVal = real_of(n) != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_BSTR: return store_number_text(base, n, flags, out);
    default: return DISP_E_TYPEMISMATCH;
  }
  out->vt = vt;
  return S_OK;
}

}  // namespace

// Every locale is read and written as English (United States).
JTZCOM_API HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                       USHORT wFlags, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!jtzcom::valid_vartype(pvarSrc->vt)) return DISP_E_BADVARTYPE;
  // Conversions to references and to SAFEARRAYs are not made here.
  if (!jtzcom::valid_vartype(vt) || (vt & (VT_BYREF | VT_ARRAY))) return DISP_E_BADVARTYPE;
  try {
    // Into a temporary first: the source may be the destination, and a failed
    // change leaves the destination as it was.
    jtzcom::OwnedVariant result;
    if (HRESULT hr = convert(*pvarSrc, lcid, wFlags, vt, 0, result.get()); FAILED(hr)) return hr;
    if (HRESULT hr = VariantClear(pvargDest); FAILED(hr)) return hr;
    *pvargDest = result.release();
    return S_OK;
  } catch (...) {
    return jtzcom::hresult_of_current_exception();
  }
}

JTZCOM_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                     USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, GetUserDefaultLCID(), wFlags, vt);
}
