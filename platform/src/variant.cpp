// VARIANT lifetime, copy and type change.
//
// Type change covers the scalar Automation types the bridge exchanges:
// VT_EMPTY, VT_BOOL, the integer types (VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4,
// VT_UI4, VT_INT, VT_UINT), VT_R4, VT_R8 and VT_BSTR, with a source by value,
// by VT_BYREF, or in a VARIANT that a VT_BYREF | VT_VARIANT refers to. Any other pair, apart from a
// copy to the same type, is a DISP_E_TYPEMISMATCH. Numbers follow Windows (locale 0x0409): integers
// are range checked (DISP_E_OVERFLOW), floating point becomes an integer by rounding to nearest
// with ties to even, VARIANT_TRUE is -1, and text is decimal. SAFEARRAYs are not supported
// (VT_ARRAY is DISP_E_BADVARTYPE).
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cstdlib>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr VARTYPE kBaseMask = VT_TYPEMASK;

// Size of the value of each base type as it is stored behind a VT_BYREF
// pointer; 0 for types that are not valid in a VARIANT.
size_t value_size(VARTYPE base) {
  switch (base) {
    case VT_EMPTY:
    case VT_NULL: return 0;
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
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

bool is_valid_type(VARTYPE vt) {
  if (vt & (VT_ARRAY | VT_RESERVED)) return false;
  const VARTYPE base = vt & kBaseMask;
  if (vt & VT_BYREF) return base != VT_EMPTY && base != VT_NULL && value_size(base) != 0;
  return base == VT_EMPTY || base == VT_NULL || (base != VT_VARIANT && value_size(base) != 0);
}

// A number read from a source: an integer (exact) or floating point.
struct Number {
  bool is_float = false;
  bool is_bool = false;  // an integer that came from a VARIANT_BOOL
  LONGLONG i = 0;
  double d = 0;
};

template <typename T>
T load(const void* data) {
  T value;
  // NOLINTNEXTLINE(bugprone-sizeof-expression): T may be a pointer type; its size is copied.
  std::memcpy(&value, data, sizeof value);
  return value;
}

// Integer targets and their ranges.
struct IntegerRange {
  VARTYPE vt;
  LONGLONG lo, hi;
};
constexpr IntegerRange kIntegers[] = {
    {VT_I1, -128, 127},
    {VT_UI1, 0, 255},
    {VT_I2, -32768, 32767},
    {VT_UI2, 0, 65535},
    {VT_I4, -2147483647LL - 1, 2147483647},
    {VT_INT, -2147483647LL - 1, 2147483647},
    {VT_UI4, 0, 4294967295LL},
    {VT_UINT, 0, 4294967295LL},
};

const IntegerRange* integer_range(VARTYPE vt) {
  for (const IntegerRange& r : kIntegers)
    if (r.vt == vt) return &r;
  return nullptr;
}

double round_half_even(double x) {
  double r = std::floor(x);
  const double fraction = x - r;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
  return r;
}

bool equals_ignoring_case(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

// Power of ten of the leading significant digit of well-formed unsigned
// decimal text ("123.4" 2, "0.05" -2, "1e+9" 9); 0 for zero. strtol
// saturates and the exponent is clamped, so absurd exponents still compare
// the right way.
long decimal_exponent(const std::string& text) {
  const size_t e = text.find_first_of("eE");
  const std::string digits = text.substr(0, e);
  const size_t point = std::min(digits.find('.'), digits.size());
  const size_t lead = digits.find_first_of("123456789");
  if (lead == std::string::npos) return 0;
  const long power =
      lead < point ? static_cast<long>(point - lead) - 1 : -static_cast<long>(lead - point);
  const long exponent = e == std::string::npos ? 0 : std::strtol(text.c_str() + e + 1, nullptr, 10);
  return power + std::clamp(exponent, -100000L, 100000L);
}

// Parses decimal text: blanks, an optional sign, digits with an optional
// fraction, an optional exponent, blanks.
HRESULT parse_number(BSTR text, bool words_are_booleans, Number* out) {
  std::string s;
  for (UINT i = 0, n = SysStringLen(text); i < n; ++i) {
    if (text[i] > 0x7F) return DISP_E_TYPEMISMATCH;
    s += static_cast<char>(text[i]);
  }
  const size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return DISP_E_TYPEMISMATCH;
  s = s.substr(begin, s.find_last_not_of(" \t") - begin + 1);

  if (words_are_booleans) {
    if (equals_ignoring_case(s, "true")) return out->i = -1, S_OK;
    if (equals_ignoring_case(s, "false")) return out->i = 0, S_OK;
  }

  size_t p = 0;
  const bool negative = s[p] == '-';
  if (s[p] == '+' || s[p] == '-') ++p;
  const size_t mantissa = p;
  size_t digits = 0;
  while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) ++p, ++digits;
  if (p < s.size() && s[p] == '.') {
    ++p;
    while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) ++p, ++digits;
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
    ++p;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
    size_t exponent_digits = 0;
    while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) ++p, ++exponent_digits;
    if (exponent_digits == 0) return DISP_E_TYPEMISMATCH;
  }
  if (p != s.size()) return DISP_E_TYPEMISMATCH;

  double value = 0;
  const auto result = std::from_chars(s.data() + mantissa, s.data() + s.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Beyond double: too large is an overflow, too small is zero.
    if (decimal_exponent(s.substr(mantissa)) > 0) return DISP_E_OVERFLOW;
    value = 0;
  } else if (result.ec != std::errc() || result.ptr != s.data() + s.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  out->is_float = true;
  out->d = negative ? -value : value;
  return S_OK;
}

// Reads the number held by a source of base type `base` whose value is at `data`.
HRESULT read_number(VARTYPE base, const void* data, VARTYPE target, Number* out) {
  switch (base) {
    case VT_EMPTY: out->i = 0; return S_OK;
    case VT_BOOL:
      out->i = load<VARIANT_BOOL>(data);
      out->is_bool = true;
      return S_OK;
    // NOLINTNEXTLINE(bugprone-signed-char-misuse,cert-str34-c): VT_I1 is signed.
    case VT_I1: out->i = load<int8_t>(data); return S_OK;
    case VT_UI1: out->i = load<uint8_t>(data); return S_OK;
    case VT_I2: out->i = load<int16_t>(data); return S_OK;
    case VT_UI2: out->i = load<uint16_t>(data); return S_OK;
    case VT_I4:
    case VT_INT: out->i = load<int32_t>(data); return S_OK;
    case VT_UI4:
    case VT_UINT: out->i = load<uint32_t>(data); return S_OK;
    case VT_R4:
      out->is_float = true;
      out->d = load<float>(data);
      return S_OK;
    case VT_R8:
      out->is_float = true;
      out->d = load<double>(data);
      return S_OK;
    case VT_BSTR: return parse_number(load<BSTR>(data), target == VT_BOOL, out);
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT store_integer(const IntegerRange& range, const Number& n, VARIANT* out) {
  LONGLONG value;
  if (n.is_float) {
    if (std::isnan(n.d)) return DISP_E_OVERFLOW;
    const double r = round_half_even(n.d);
    if (!(r >= static_cast<double>(range.lo) && r <= static_cast<double>(range.hi)))
      return DISP_E_OVERFLOW;
    value = static_cast<LONGLONG>(r);
  } else {
    value = n.i;
    // A boolean keeps its bits (VARIANT_TRUE is 255 as a byte); others must fit.
    if (!n.is_bool && (value < range.lo || value > range.hi)) return DISP_E_OVERFLOW;
  }
  switch (range.vt) {
    case VT_I1: out->cVal = static_cast<CHAR>(static_cast<int8_t>(value)); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(value); break;
    case VT_I2: out->iVal = static_cast<SHORT>(value); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(value); break;
    case VT_I4: out->lVal = static_cast<LONG>(value); break;
    case VT_INT: out->intVal = static_cast<INT>(value); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(value); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(value); break;
    default: return DISP_E_TYPEMISMATCH;
  }
  out->vt = range.vt;
  return S_OK;
}

HRESULT store_text(const std::string& text, VARIANT* out) {
  std::u16string wide(text.begin(), text.end());
  BSTR bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!bstr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = bstr;
  return S_OK;
}

// Decimal text of a number: integers exactly, VT_R4 with 7 and VT_R8 with 15
// significant digits, exponents as "1E+20".
HRESULT store_number_text(VARTYPE base, const Number& n, USHORT flags, VARIANT* out) {
  if (base == VT_EMPTY) return store_text("", out);
  if (n.is_bool && (flags & VARIANT_ALPHABOOL)) return store_text(n.i ? "True" : "False", out);
  char buffer[64];
  std::to_chars_result result;
  if (!n.is_float)
    result = std::to_chars(buffer, buffer + sizeof buffer, n.i);
  else if (base == VT_R4)
    result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(n.d),
                           std::chars_format::general, 7);
  else
    result = std::to_chars(buffer, buffer + sizeof buffer, n.d, std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return store_text(text, out);
}

// Copies a value of the source's own type; `data` points at it.
HRESULT copy_same_type(VARTYPE base, const void* data, VARIANT* out) {
  switch (base) {
    case VT_EMPTY:
    case VT_NULL: break;
    case VT_BSTR: {
      BSTR source = load<BSTR>(data);
      out->bstrVal = source ? SysAllocStringLen(source, SysStringLen(source)) : nullptr;
      if (source && !out->bstrVal) return E_OUTOFMEMORY;
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* object = load<IUnknown*>(data);
      if (object) object->AddRef();
      out->punkVal = object;
      break;
    }
    case VT_DECIMAL: std::memcpy(&out->decVal, data, sizeof(DECIMAL)); break;
    default: {
      const size_t size = value_size(base);
      if (size == 0 || size > sizeof out->llVal) return DISP_E_TYPEMISMATCH;
      std::memcpy(&out->llVal, data, size);
    }
  }
  out->vt = base;
  return S_OK;
}

// Converts `src` to `vt` into `out`, which is VT_EMPTY and owns the result.
HRESULT convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* out) {
  if (!is_valid_type(src.vt)) return DISP_E_BADVARTYPE;
  const VARTYPE base = src.vt & kBaseMask;
  const bool by_reference = src.vt & VT_BYREF;
  if (by_reference && !src.byref) return E_INVALIDARG;
  if (base == VT_VARIANT) {  // a reference to a VARIANT that holds the value itself
    const VARIANT& inner = *src.pvarVal;
    if (inner.vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
    return convert(inner, flags, vt, out);
  }
  const void* data = by_reference         ? src.byref
                     : base == VT_DECIMAL ? static_cast<const void*>(&src.decVal)
                                          : static_cast<const void*>(&src.llVal);
  if (base == vt) return copy_same_type(base, data, out);

  Number n;
  if (HRESULT hr = read_number(base, data, vt, &n); FAILED(hr)) return hr;
  if (const IntegerRange* range = integer_range(vt)) return store_integer(*range, n, out);
  switch (vt) {
    case VT_R8: out->dblVal = n.is_float ? n.d : static_cast<double>(n.i); break;
    case VT_R4:
      if (n.is_float && std::fabs(n.d) > FLT_MAX) return DISP_E_OVERFLOW;
      out->fltVal = n.is_float ? static_cast<float>(n.d) : static_cast<float>(n.i);
      break;
    case VT_BOOL:
      out->boolVal = (n.is_float ? n.d != 0 : n.i != 0) ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_BSTR: return store_number_text(base, n, flags, out);
    default: return DISP_E_TYPEMISMATCH;
  }
  out->vt = vt;
  return S_OK;
}

}  // namespace

JTZCOM_API void VariantInit(VARIANTARG* pvarg) {
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

JTZCOM_API HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!is_valid_type(pvarg->vt)) return DISP_E_BADVARTYPE;
  const VARTYPE vt = pvarg->vt;
  pvarg->vt = VT_EMPTY;  // first: a Release below may look at this VARIANT again
  if (vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && pvarg->punkVal) {
    pvarg->punkVal->Release();
  }
  return S_OK;
}

JTZCOM_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!is_valid_type(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *pvargSrc;
  if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal) {
    copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if ((pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) && pvargSrc->punkVal) {
    pvargSrc->punkVal->AddRef();
  }
  if (HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

JTZCOM_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                     USHORT wFlags, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (vt & (VT_BYREF | VT_ARRAY | VT_RESERVED)) return DISP_E_BADVARTYPE;
  VARIANT result;
  VariantInit(&result);
  // Into a temporary first: the source may be the destination, and a failed
  // change leaves the destination as it was.
  if (HRESULT hr = convert(*pvarSrc, wFlags, vt, &result); FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  if (HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}
