// Fuzzing target: the POSIX COM layer with arbitrary inputs.
//
// Each input is a short program of operations on VARIANTs, BSTRs, colours and
// CLSID text. VARIANTs are made with any type tag; the value of a tag whose
// payload is a pointer (a BSTR, an object, a reference, an array) is always a
// valid pointer or null, as a caller that keeps the rules would pass it, and
// every other payload is arbitrary bits. Checked after each operation:
// - nothing crashes, reads out of bounds or leaks (AddressSanitizer, and the
//   live-BSTR counter back at its start when the input ends);
// - every object reference taken is given back;
// - a failed VariantChangeType, VariantCopy, VariantCopyInd or VariantClear
//   leaves its destination as it was;
// - a successful change has the type asked for, and numbers turned into text
//   read back as the same value (integers and booleans exactly, reals to the
//   digits the text keeps); text read as a number and written again reads
//   back as the same number;
// - a copy holds the same value, with its own BSTR;
// - CLSID text read successfully is the text StringFromGUID2 writes, and a
//   GUID written as text reads back as the same GUID.
#include <fuzzer/FuzzedDataProvider.h>
#include <posixcom/com.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, unsigned line) {
  std::fprintf(stderr, "platform_fuzz: property violated at line %u: %s\n", line, what);
  std::abort();
}
#define CHECK(cond)                     \
  do {                                  \
    if (!(cond)) fail(#cond, __LINE__); \
  } while (0)

constexpr int kMaxObjects = 4;

// An object whose default value (DISPID_VALUE) is whatever the input says.
class FakeObject final : public IDispatch {
 public:
  explicit FakeObject(FuzzedDataProvider* in) : in_(in) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IDispatch*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    CHECK(refs_ > 0);
    return --refs_;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override;
  ULONG refs() const { return refs_; }

 private:
  FuzzedDataProvider* in_;
  ULONG refs_ = 1;  // the harness's own
};

// Everything one input made, given back when the input ends.
struct World {
  explicit World(FuzzedDataProvider* in) : in(in) {
    for (auto& o : objects) o = std::make_unique<FakeObject>(in);
  }
  FuzzedDataProvider* in;
  std::unique_ptr<FakeObject> objects[kMaxObjects];
  std::vector<std::unique_ptr<VARIANT>> slots;         // owned VARIANTs (referenced values too)
  std::vector<std::unique_ptr<unsigned char[]>> refs;  // storage behind VT_BYREF values
  std::vector<BSTR> referenced_bstrs;                  // BSTRs behind VT_BYREF | VT_BSTR
  std::vector<IUnknown*> referenced_objects;           // objects behind VT_BYREF | VT_DISPATCH
};
World* g_world = nullptr;

BSTR fuzz_bstr(FuzzedDataProvider& in) {
  const size_t bytes = in.ConsumeIntegralInRange<size_t>(0, 96);
  std::vector<char> data = in.ConsumeBytes<char>(bytes);
  if (in.ConsumeBool()) {
    // Mostly number-like text, so that the text conversions go deep.
    static const char kAlphabet[] = "0123456789.,+-$()eE&HhOo \t#TrueFalse";
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
      data[i] = kAlphabet[static_cast<unsigned char>(data[i]) % (sizeof kAlphabet - 1)];
      data[i + 1] = 0;
    }
  }
  return SysAllocStringByteLen(data.data(), static_cast<UINT>(data.size()));
}

IUnknown* fuzz_object(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange(0, 7) == 0) return nullptr;
  IUnknown* o = g_world->objects[in.ConsumeIntegralInRange(0, kMaxObjects - 1)].get();
  o->AddRef();
  return o;
}

VARTYPE fuzz_vartype(FuzzedDataProvider& in) {
  static const VARTYPE kBases[] = {
      VT_EMPTY,   VT_NULL, VT_I2,       VT_I4,    VT_R4,      VT_R8,      VT_CY,
      VT_DATE,    VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL,    VT_VARIANT, VT_UNKNOWN,
      VT_DECIMAL, 15,      VT_I1,       VT_UI1,   VT_UI2,     VT_UI4,     VT_I8,
      VT_UI8,     VT_INT,  VT_UINT,     VT_VOID,  VT_HRESULT, VT_RECORD,  VT_CLSID};
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return in.ConsumeIntegral<VARTYPE>();
    case 1: return in.PickValueInArray(kBases) | VT_BYREF;
    case 2: {
      static const VARTYPE kFlags[] = {VT_ARRAY, VT_VECTOR, VT_RESERVED, VT_BYREF | VT_ARRAY};
      return in.PickValueInArray(kBases) | in.PickValueInArray(kFlags);
    }
    default: return in.PickValueInArray(kBases);
  }
}

// Makes `v` a VARIANT of a fuzzed type that owns its payload.
void fuzz_variant(FuzzedDataProvider& in, VARIANT* v, int depth);

// Storage for a VT_BYREF value of base type `base`.
void* fuzz_reference(FuzzedDataProvider& in, VARTYPE vt, int depth) {
  const VARTYPE base = vt & VT_TYPEMASK;
  if (in.ConsumeIntegralInRange(0, 15) == 0) return nullptr;
  if (vt & VT_ARRAY) {
    // A reference to a null SAFEARRAY pointer, or to one that must never be read.
    auto cell = std::make_unique<unsigned char[]>(sizeof(void*) * 2);
    std::memset(cell.get(), 0, sizeof(void*) * 2);
    if (in.ConsumeBool()) {
      void* opaque = cell.get() + sizeof(void*);
      std::memcpy(cell.get(), &opaque, sizeof opaque);
    }
    g_world->refs.push_back(std::move(cell));
    return g_world->refs.back().get();
  }
  if (base == VT_VARIANT) {
    g_world->slots.push_back(std::make_unique<VARIANT>());
    VARIANT* inner = g_world->slots.back().get();
    fuzz_variant(in, inner, depth + 1);
    return inner;
  }
  auto cell = std::make_unique<unsigned char[]>(32);
  std::vector<unsigned char> bits = in.ConsumeBytes<unsigned char>(32);
  bits.resize(32);
  std::memcpy(cell.get(), bits.data(), 32);
  if (base == VT_BSTR) {
    BSTR b = in.ConsumeBool() ? fuzz_bstr(in) : nullptr;
    g_world->referenced_bstrs.push_back(b);
    std::memcpy(cell.get(), &b, sizeof b);
  } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
    IUnknown* o = fuzz_object(in);
    g_world->referenced_objects.push_back(o);
    std::memcpy(cell.get(), &o, sizeof o);
  }
  g_world->refs.push_back(std::move(cell));
  return g_world->refs.back().get();
}

void fuzz_variant(FuzzedDataProvider& in, VARIANT* v, int depth) {
  std::vector<unsigned char> bits = in.ConsumeBytes<unsigned char>(sizeof *v);
  bits.resize(sizeof *v);
  std::memcpy(v, bits.data(), sizeof *v);
  VARTYPE vt = fuzz_vartype(in);
  if (depth > 2 && (vt & VT_TYPEMASK) == VT_VARIANT) vt = VT_I4;
  v->vt = vt;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_BYREF) {
    v->byref = fuzz_reference(in, vt, depth);
  } else if (vt & VT_ARRAY) {
    // No SAFEARRAY exists here: null, or an address that must never be read.
    v->parray = in.ConsumeBool() ? nullptr : reinterpret_cast<SAFEARRAY*>(g_world);
  } else if (base == VT_BSTR) {
    v->bstrVal = in.ConsumeIntegralInRange(0, 9) == 0 ? nullptr : fuzz_bstr(in);
  } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
    v->punkVal = fuzz_object(in);
  } else if (base == VT_RECORD) {
    v->brecVal.pvRecord = nullptr;
    v->brecVal.pRecInfo = in.ConsumeBool() ? nullptr : g_world;
  }
}

// Gives back what a VARIANT slot owns, by the harness's own reading of its
// type (not the layer's): a BSTR or an object held by value.
void dispose(VARIANT* v) {
  if (v->vt & (VT_BYREF | VT_ARRAY)) return;
  const VARTYPE base = v->vt & VT_TYPEMASK;
  if (base == VT_BSTR) SysFreeString(v->bstrVal);
  if ((base == VT_DISPATCH || base == VT_UNKNOWN) && v->punkVal) v->punkVal->Release();
  std::memset(v, 0, sizeof *v);
}

HRESULT FakeObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO*, UINT*) {
  CHECK(params && params->cArgs == 0);
  if (in_->ConsumeIntegralInRange(0, 5) == 0) return in_->ConsumeIntegral<HRESULT>() | 0x80000000;
  if (!result) return S_OK;
  // What a well-behaved object returns: a value whose payload the caller owns.
  VARIANT v;
  do {
    fuzz_variant(*in_, &v, 3);
    if ((v.vt & (VT_BYREF | VT_ARRAY | VT_VECTOR | VT_RESERVED)) == 0 &&
        (v.vt & VT_TYPEMASK) != VT_RECORD)
      break;
    dispose(&v);
  } while (in_->remaining_bytes() > 0);
  if (v.vt & (VT_BYREF | VT_ARRAY | VT_VECTOR | VT_RESERVED) || (v.vt & VT_TYPEMASK) == VT_RECORD) {
    dispose(&v);
    v.vt = VT_EMPTY;
  }
  *result = v;
  return S_OK;
}

VARIANT* new_slot(FuzzedDataProvider& in) {
  g_world->slots.push_back(std::make_unique<VARIANT>());
  VARIANT* v = g_world->slots.back().get();
  fuzz_variant(in, v, 0);
  return v;
}

// The VARIANT whose value `v` stands for: a VT_BYREF | VT_VARIANT followed.
const VARIANT* value_of(const VARIANT* v) {
  while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  return v;
}

bool is_integer(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: return true;
    default: return false;
  }
}

// The number a scalar VARIANT of a number type holds.
double number_of(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return static_cast<int8_t>(v.cVal);
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_UI4: return v.ulVal;
    case VT_UINT: return v.uintVal;
    case VT_BOOL: return v.boolVal;
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    default: fail("number_of: not a number type", __LINE__);
  }
}

// Text made from a number must read back as it: `digits` significant digits
// for reals (0 for integers: exactly).
void check_text_reads_back(BSTR text, VARTYPE type, double expected, int digits) {
  VARIANT t, back;
  t.vt = VT_BSTR;
  t.bstrVal = text;
  VariantInit(&back);
  const HRESULT hr = VariantChangeType(&back, &t, 0, type == VT_BOOL ? VT_I2 : type);
  if (digits == 0) {
    CHECK(hr == S_OK);
    CHECK(number_of(back) == expected);
  } else if (std::isfinite(expected)) {
    // Rounded to `digits`, the largest reals may pass the type's maximum.
    const double largest = type == VT_R4 ? 3.4028234663852886e38 : 1.7976931348623157e308;
    if (hr == DISP_E_OVERFLOW && std::fabs(expected) > largest * (1 - std::pow(10.0, 1 - digits)))
      return;
    CHECK(hr == S_OK);
    const double got = number_of(back);
    const double tolerance = std::fabs(expected) * std::pow(10.0, 1 - digits);
    CHECK(std::fabs(got - expected) <= tolerance || (std::fabs(expected) < 1e-37 && type == VT_R4));
  }
  VariantClear(&back);
}

void op_change_type(FuzzedDataProvider& in) {
  VARIANT* src = new_slot(in);
  const bool alias = in.ConsumeIntegralInRange(0, 3) == 0;
  VARIANT* dest = alias ? src : new_slot(in);
  const VARTYPE to = in.ConsumeBool() ? fuzz_vartype(in) : (in.ConsumeIntegral<VARTYPE>() & 0x1F);
  const USHORT flags = in.ConsumeIntegral<USHORT>();
  const LCID lcid = in.ConsumeIntegral<LCID>();
  // The source's value, read before the call (which may replace it).
  const VARIANT* inner = value_of(src);
  VARIANT source_value = *inner;
  BSTR source_text = nullptr;
  if (source_value.vt == VT_BSTR && source_value.bstrVal)
    source_text = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source_value.bstrVal),
                                        SysStringByteLen(source_value.bstrVal));
  VARIANT before = *dest;
  const HRESULT hr = in.ConsumeBool() ? VariantChangeTypeEx(dest, src, lcid, flags, to)
                                      : VariantChangeType(dest, src, flags, to);
  if (FAILED(hr)) {
    CHECK(std::memcmp(&before, dest, sizeof before) == 0);
  } else {
    CHECK(hr == S_OK);
    CHECK(dest->vt == to);
    const VARTYPE from = source_value.vt;
    // Numbers to text read back.
    const bool words = from == VT_BOOL && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL));
    const bool canonical = from != VT_BOOL || source_value.boolVal == VARIANT_TRUE ||
                           source_value.boolVal == VARIANT_FALSE;
    if (to == VT_BSTR && !words && canonical && (is_integer(from) || from == VT_BOOL))
      check_text_reads_back(dest->bstrVal, from, number_of(source_value), 0);
    if (to == VT_BSTR && (from == VT_R4 || from == VT_R8))
      check_text_reads_back(dest->bstrVal, from, number_of(source_value), from == VT_R4 ? 7 : 15);
    // Text to numbers: written again, reads back as the same number.
    if (from == VT_BSTR && (is_integer(to) || to == VT_R8 || to == VT_R4)) {
      VARIANT text;
      VariantInit(&text);
      CHECK(VariantChangeType(&text, dest, 0, VT_BSTR) == S_OK);
      check_text_reads_back(text.bstrVal, to, number_of(*dest),
                            is_integer(to) ? 0 : (to == VT_R4 ? 7 : 15));
      VariantClear(&text);
    }
  }
  SysFreeString(source_text);
}

// The value bytes of a VARIANT (all but the type tag and its reserved words).
bool same_value(const VARIANT& a, const VARIANT& b) {
  if (a.vt == VT_DECIMAL)
    return std::memcmp(&a.decVal.scale, &b.decVal.scale,
                       sizeof(DECIMAL) - offsetof(DECIMAL, scale)) == 0;
  return std::memcmp(&a.llVal, &b.llVal, sizeof a - offsetof(VARIANT, llVal)) == 0;
}

void check_copy(const VARIANT& copy, const VARIANT& original) {
  CHECK(copy.vt == original.vt);
  if (copy.vt == VT_BSTR) {
    CHECK(copy.bstrVal != nullptr);
    CHECK(original.bstrVal == nullptr || copy.bstrVal != original.bstrVal);
    const UINT n = SysStringByteLen(original.bstrVal);
    CHECK(SysStringByteLen(copy.bstrVal) == n);
    CHECK(std::memcmp(copy.bstrVal, original.bstrVal ? original.bstrVal : copy.bstrVal, n) == 0);
    CHECK(copy.bstrVal[(n + 1) / 2] == 0);
  } else if (copy.vt != VT_RECORD) {
    CHECK(same_value(copy, original));
  }
}

void op_copy(FuzzedDataProvider& in, bool indirect) {
  VARIANT* src = new_slot(in);
  const bool alias = in.ConsumeIntegralInRange(0, 3) == 0;
  VARIANT* dest = alias ? src : new_slot(in);
  VARIANT before = *dest;
  VARIANT original = *src;
  VARIANT referenced{};  // what a VT_BYREF source refers to, as a value
  if (indirect && (original.vt & VT_BYREF) && original.byref && !(original.vt & VT_ARRAY)) {
    const VARTYPE base = original.vt & VT_TYPEMASK;
    if (base == VT_VARIANT) {
      referenced = *original.pvarVal;
      if (referenced.vt & VT_BYREF) referenced.vt = VT_EMPTY;  // followed further: not checked
    } else if (base == VT_DECIMAL) {
      std::memcpy(&referenced.decVal, original.byref, sizeof(DECIMAL));
      referenced.vt = base;
    } else if (base != VT_RECORD && base != VT_CLSID && base > VT_NULL) {
      std::memcpy(&referenced.llVal, original.byref, 8);
      referenced.vt = base;
    }
  }
  const HRESULT hr = indirect ? VariantCopyInd(dest, src) : VariantCopy(dest, src);
  if (FAILED(hr)) {
    CHECK(std::memcmp(&before, dest, sizeof before) == 0);
    return;
  }
  CHECK(hr == S_OK);
  if (alias) return;
  if (!indirect || !(original.vt & VT_BYREF)) {
    check_copy(*dest, original);
    return;
  }
  CHECK(!(dest->vt & VT_BYREF));
  if (referenced.vt == VT_EMPTY) return;
  CHECK(dest->vt == referenced.vt);
  if (referenced.vt == VT_BSTR || referenced.vt == VT_DISPATCH || referenced.vt == VT_UNKNOWN) {
    CHECK(dest->vt != VT_BSTR || dest->bstrVal);
    if (dest->vt == VT_BSTR)
      CHECK(SysStringByteLen(dest->bstrVal) == SysStringByteLen(referenced.bstrVal));
    else
      CHECK(dest->punkVal == referenced.punkVal);
  } else if (referenced.vt == VT_DECIMAL) {
    CHECK(std::memcmp(&dest->decVal.scale, &referenced.decVal.scale,
                      sizeof(DECIMAL) - offsetof(DECIMAL, scale)) == 0);
  } else {
    const size_t size = referenced.vt == VT_R8 || referenced.vt == VT_CY ||
                                referenced.vt == VT_DATE || referenced.vt == VT_I8 ||
                                referenced.vt == VT_UI8
                            ? 8
                            : 1;
    CHECK(std::memcmp(&dest->llVal, &referenced.llVal, size) == 0);
  }
}

void op_clear(FuzzedDataProvider& in) {
  VARIANT* v = new_slot(in);
  VARIANT before = *v;
  const HRESULT hr = VariantClear(v);
  if (FAILED(hr))
    CHECK(std::memcmp(&before, v, sizeof before) == 0);
  else
    CHECK(v->vt == VT_EMPTY);
}

void check_bstr(BSTR b, const void* bytes, UINT n) {
  CHECK(SysStringByteLen(b) == n);
  CHECK(SysStringLen(b) == n / 2);
  if (bytes) CHECK(std::memcmp(b, bytes, n) == 0);
  const unsigned char* end = reinterpret_cast<const unsigned char*>(b) + n;
  CHECK(end[0] == 0 && end[1] == 0);
}

void op_bstr(FuzzedDataProvider& in) {
  // Lengths the layer must refuse without allocating, or ones it can make.
  static const UINT kHuge[] = {0x7FFFFFF8u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
  const bool huge = in.ConsumeIntegralInRange(0, 15) == 0;
  std::vector<char> data = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<size_t>(0, 200));
  const UINT len = huge ? in.PickValueInArray(kHuge) : static_cast<UINT>(data.size());
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: {  // by bytes, from data or zeros
      const bool with = in.ConsumeBool();
      BSTR b = SysAllocStringByteLen(with ? data.data() : nullptr, len);
      if (huge) {
        CHECK(b == nullptr);
        return;
      }
      CHECK(b);
      if (!with) data.assign(len, 0);
      check_bstr(b, data.data(), len);
      SysFreeString(b);
      return;
    }
    case 1: {  // by characters
      const UINT chars = huge ? len : len / 2;
      BSTR b = SysAllocStringLen(
          in.ConsumeBool() ? reinterpret_cast<OLECHAR*>(data.data()) : nullptr, chars);
      if (huge) {
        CHECK(b == nullptr);
        return;
      }
      CHECK(b);
      check_bstr(b, nullptr, chars * 2);
      SysFreeString(b);
      return;
    }
    case 2: {  // a C string of OLECHARs
      data.resize(data.size() & ~size_t{1});
      data.push_back(0);
      data.push_back(0);
      const OLECHAR* s = reinterpret_cast<const OLECHAR*>(data.data());
      size_t n = 0;
      while (s[n]) ++n;
      BSTR b = SysAllocString(s);
      CHECK(b);
      check_bstr(b, s, static_cast<UINT>(n * 2));
      SysFreeString(b);
      return;
    }
    default: {  // reallocation, from outside or from within the old string
      BSTR b = SysAllocStringByteLen(data.data(), static_cast<UINT>(data.size() & ~size_t{1}));
      CHECK(b);
      const UINT old_chars = SysStringLen(b);
      const bool inside = in.ConsumeBool() && old_chars > 0;
      const UINT from = inside ? in.ConsumeIntegralInRange<UINT>(0, old_chars) : 0;
      const UINT count =
          huge ? len : in.ConsumeIntegralInRange<UINT>(0, inside ? old_chars - from : 80);
      std::vector<OLECHAR> outside(huge ? 1 : count + 1, u'x');
      outside.back() = 0;
      const OLECHAR* source = inside ? b + from : outside.data();
      std::vector<OLECHAR> expected(source, source + (huge ? 0 : count));
      BSTR before = b;
      INT ok;
      if (in.ConsumeBool() && !huge) {
        if (inside)
          expected.assign(b + from, b + from + std::char_traits<char16_t>::length(b + from));
        ok = SysReAllocString(&b, source);
        CHECK(ok);
      } else {
        ok = SysReAllocStringLen(&b, source, count);
        CHECK(ok == !huge);
      }
      if (ok) {
        check_bstr(b, expected.data(), static_cast<UINT>(expected.size() * 2));
      } else {
        CHECK(b == before);
        check_bstr(b, nullptr, old_chars * 2);
      }
      SysFreeString(b);
      return;
    }
  }
}

void op_color(FuzzedDataProvider& in) {
  const OLE_COLOR c = in.ConsumeBool()
                          ? in.ConsumeIntegral<OLE_COLOR>()
                          : in.PickValueInArray({0x00u, 0x01u, 0x02u, 0x80u, 0xFFu}) << 24 |
                                in.ConsumeIntegralInRange<OLE_COLOR>(0, 40);
  HPALETTE palette = in.ConsumeBool() ? reinterpret_cast<HPALETTE>(g_world) : nullptr;
  const bool out = in.ConsumeIntegralInRange(0, 7) != 0;
  COLORREF rgb = 0xDEADBEEF;
  const HRESULT hr = OleTranslateColor(c, palette, out ? &rgb : nullptr);
  CHECK(hr == S_OK || hr == E_INVALIDARG);
  if (FAILED(hr) || !out) {
    CHECK(rgb == 0xDEADBEEF);
    return;
  }
  switch (c >> 24) {
    case 0x00:
    case 0x02:
    case 0x01: CHECK(rgb == c); break;
    case 0x80: CHECK(rgb >> 24 == 0); break;
    default: fail("a colour of another form was translated", __LINE__);
  }
}

bool same_text_ignoring_case(const OLECHAR* a, const OLECHAR* b) {
  auto lower = [](OLECHAR c) { return c >= u'A' && c <= u'Z' ? OLECHAR(c - u'A' + u'a') : c; };
  for (; *a && *b; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

void op_guid(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) {
    // Text: as long as the input says, ending exactly where its terminator is.
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, 48);
    std::unique_ptr<OLECHAR[]> text(new OLECHAR[n + 1]);
    static const char kDigits[] = "{}-0123456789abcdefABCDEFgG";
    for (size_t i = 0; i < n; ++i)
      text[i] = in.ConsumeBool()
                    ? in.ConsumeIntegral<OLECHAR>()
                    : OLECHAR(kDigits[in.ConsumeIntegralInRange<size_t>(0, sizeof kDigits - 2)]);
    if (n > 0 && in.ConsumeBool()) text[0] = u'{';
    text[n] = 0;
    CLSID id;
    std::memset(&id, 0xA5, sizeof id);
    const OLECHAR* given = in.ConsumeIntegralInRange(0, 31) ? text.get() : nullptr;
    const HRESULT hr = CLSIDFromString(given, &id);
    if (hr == S_OK && given && given[0] == u'{') {
      OLECHAR again[39];
      CHECK(StringFromGUID2(id, again, 39) == 39);
      CHECK(same_text_ignoring_case(again, text.get()));
    } else {
      CHECK(hr == S_OK || hr == CO_E_CLASSSTRING);
    }
    return;
  }
  GUID id;
  std::vector<unsigned char> bits = in.ConsumeBytes<unsigned char>(sizeof id);
  bits.resize(sizeof id);
  std::memcpy(&id, bits.data(), sizeof id);
  // Exactly as many characters as the caller says it has.
  const int cch = in.ConsumeIntegralInRange(0, 40);
  std::unique_ptr<OLECHAR[]> text(new OLECHAR[cch > 0 ? cch : 1]);
  const int written = StringFromGUID2(id, cch > 0 ? text.get() : nullptr, cch);
  if (cch < 39) {
    CHECK(written == 0);
    return;
  }
  CHECK(written == 39);
  GUID back;
  CHECK(CLSIDFromString(text.get(), &back) == S_OK);
  CHECK(std::memcmp(&back, &id, sizeof id) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const long bstrs_at_start = jtzcom_live_bstrs();
  {
    World world(&in);
    g_world = &world;
    for (int ops = 0; ops < 8 && in.remaining_bytes() > 0; ++ops) {
      switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0:
        case 1: op_change_type(in); break;
        case 2: op_copy(in, false); break;
        case 3: op_copy(in, true); break;
        case 4: op_clear(in); break;
        case 5: op_bstr(in); break;
        case 6: op_color(in); break;
        default: op_guid(in); break;
      }
    }
    // Give back what the input made; every reference taken must come back too.
    for (auto& slot : world.slots) dispose(slot.get());
    for (BSTR b : world.referenced_bstrs) SysFreeString(b);
    for (IUnknown* o : world.referenced_objects)
      if (o) o->Release();
    for (auto& o : world.objects) CHECK(o->refs() == 1);
    g_world = nullptr;
  }
  CHECK(jtzcom_live_bstrs() == bstrs_at_start);
  return 0;
}
