// The Automation layer against what Windows' oleaut32 and ole32 give for the same calls, in
// the default locale (English, United States). Every row holds the Windows result: a
// failure's HRESULT name, or the type tag and value that a successful call leaves behind.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "test_util.h"

namespace {

using namespace std::literals;

std::string hr_name(HRESULT hr) {
  switch (hr) {
    case S_OK: return "S_OK";
    case DISP_E_TYPEMISMATCH: return "DISP_E_TYPEMISMATCH";
    case DISP_E_BADVARTYPE: return "DISP_E_BADVARTYPE";
    case DISP_E_OVERFLOW: return "DISP_E_OVERFLOW";
    case E_INVALIDARG: return "E_INVALIDARG";
    case E_OUTOFMEMORY: return "E_OUTOFMEMORY";
    case CO_E_CLASSSTRING: return "CO_E_CLASSSTRING";
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string quoted(const OLECHAR* text, size_t length) {
  std::string out = "\"";
  for (size_t i = 0; i < length; ++i) {
    if (text[i] >= 0x20 && text[i] < 0x7F) {
      out += static_cast<char>(text[i]);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(text[i]));
      out += escape;
    }
  }
  return out + "\"";
}

template <typename T>
std::string shortest(T value) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// "VT_I2 -1", "VT_R8 1234.5", "VT_BSTR \"0.5\"", "VT_BSTR null", "VT_EMPTY".
std::string describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_NULL: return "VT_NULL";
    case VT_I1: return "VT_I1 " + std::to_string(static_cast<int8_t>(v.cVal));
    case VT_UI1: return "VT_UI1 " + std::to_string(v.bVal);
    case VT_I2: return "VT_I2 " + std::to_string(v.iVal);
    case VT_UI2: return "VT_UI2 " + std::to_string(v.uiVal);
    case VT_I4: return "VT_I4 " + std::to_string(v.lVal);
    case VT_UI4: return "VT_UI4 " + std::to_string(v.ulVal);
    case VT_INT: return "VT_INT " + std::to_string(v.intVal);
    case VT_UINT: return "VT_UINT " + std::to_string(v.uintVal);
    case VT_BOOL: return "VT_BOOL " + std::to_string(v.boolVal);
    case VT_R4: return "VT_R4 " + shortest(v.fltVal);
    case VT_R8: return "VT_R8 " + shortest(v.dblVal);
    case VT_BSTR:
      return v.bstrVal ? "VT_BSTR " + quoted(v.bstrVal, SysStringLen(v.bstrVal)) : "VT_BSTR null";
  }
  return "vt " + std::to_string(v.vt);
}

std::string outcome(HRESULT hr, const VARIANT& v) {
  if (FAILED(hr)) return hr_name(hr);
  return hr == S_OK ? describe(v) : hr_name(hr) + " " + describe(v);
}

// A source value as the tables write it.
struct Value {
  VARTYPE vt;
  long long i = 0;
  double d = 0;
  std::u16string_view text = {};
};
Value i1(int x) { return {VT_I1, x}; }
Value ui1(int x) { return {VT_UI1, x}; }
Value i2(int x) { return {VT_I2, x}; }
Value ui2(int x) { return {VT_UI2, x}; }
Value i4(long long x) { return {VT_I4, x}; }
Value ui4(long long x) { return {VT_UI4, x}; }
Value uint_(long long x) { return {VT_UINT, x}; }
Value r4(float x) { return {VT_R4, 0, x}; }
Value r8(double x) { return {VT_R8, 0, x}; }
Value str(std::u16string_view text) { return {VT_BSTR, 0, 0, text}; }
Value tagged(VARTYPE vt, long long x = 0) { return {vt, x}; }  // any tag, the 64 bits given

// The VARIANT a Value stands for; it owns its BSTR.
class Source {
 public:
  explicit Source(const Value& value) {
    VariantInit(&v_);
    v_.llVal = value.i;
    switch (value.vt) {
      case VT_I1: v_.cVal = static_cast<CHAR>(value.i); break;
      case VT_UI1: v_.bVal = static_cast<BYTE>(value.i); break;
      case VT_I2: v_.iVal = static_cast<SHORT>(value.i); break;
      case VT_UI2: v_.uiVal = static_cast<USHORT>(value.i); break;
      case VT_R4: v_.fltVal = static_cast<float>(value.d); break;
      case VT_R8: v_.dblVal = value.d; break;
      case VT_BSTR:
        v_.bstrVal = SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
        break;
    }
    v_.vt = value.vt;
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  ~Source() {
    if (v_.vt == VT_BSTR) SysFreeString(v_.bstrVal);
  }
  const VARIANT* get() const { return &v_; }

 private:
  VARIANT v_;
};

std::string change(const Value& from, VARTYPE to, USHORT flags) {
  Source src(from);
  VARIANT dst;
  VariantInit(&dst);
  const HRESULT hr = VariantChangeType(&dst, src.get(), flags, to);
  std::string out = outcome(hr, dst);
  if (SUCCEEDED(hr)) VariantClear(&dst);
  return out;
}

struct Change {
  Value from;
  VARTYPE to;
  const char* windows;
  USHORT flags = 0;
};

void expect_changes(const std::initializer_list<Change>& rows) {
  for (const Change& row : rows) {
    Source src(row.from);
    EXPECT_EQ(change(row.from, row.to, row.flags), row.windows)
        << describe(*src.get()) << " to vt " << row.to << " (flags " << row.flags << ")";
  }
}

// A row that runs a piece of code and describes what it observed.
struct Probe {
  const char* what;
  const char* windows;
  std::function<std::string()> run;
};

void expect_probes(const std::initializer_list<Probe>& rows) {
  for (const Probe& row : rows) EXPECT_EQ(row.run(), row.windows) << row.what;
}

using WindowsConformance = BstrLeakCheck;

TEST_F(WindowsConformance, SameSizeSignedAndUnsignedKeepTheirBits) {
  expect_changes({
      {i1(-1), VT_UI1, "VT_UI1 255"},
      {ui1(200), VT_I1, "VT_I1 -56"},
      {i2(-1), VT_UI2, "VT_UI2 65535"},
      {ui2(65535), VT_I2, "VT_I2 -1"},
      {ui2(32768), VT_I2, "VT_I2 -32768"},
      {i4(-2), VT_UI4, "VT_UI4 4294967294"},
      {ui4(0xFFFFFFFF), VT_I4, "VT_I4 -1"},
      {uint_(0x80000000), VT_I4, "VT_I4 -2147483648"},
      // Between sizes the value must fit.
      {i1(-1), VT_UI2, "DISP_E_OVERFLOW"},
      {i2(-1), VT_UI1, "DISP_E_OVERFLOW"},
      {ui2(65535), VT_I1, "DISP_E_OVERFLOW"},
      {ui4(0x80000000), VT_I2, "DISP_E_OVERFLOW"},
  });
}

TEST_F(WindowsConformance, NumbersBecomeTextWithSevenOrFifteenDigits) {
  expect_changes({
      {r8(5.6789e-5), VT_BSTR, "VT_BSTR \"0.000056789\""},
      {r8(-5.6789e-5), VT_BSTR, "VT_BSTR \"-0.000056789\""},
      {r4(0.00005f), VT_BSTR, "VT_BSTR \"0.00005\""},
      {r4(654322.23456f), VT_BSTR, "VT_BSTR \"654322.3\""},  // 654322.25 exactly: half up
      {r8(100000000000000.5), VT_BSTR, "VT_BSTR \"100000000000001\""},
      {r8(-0.0), VT_BSTR, "VT_BSTR \"0\""},
      {r8(0.0314159265358979), VT_BSTR, "VT_BSTR \"3.14159265358979E-02\""},
      {r8(1e15), VT_BSTR, "VT_BSTR \"1E+15\""},
      {r8(999999999999999.0), VT_BSTR, "VT_BSTR \"999999999999999\""},
      {r8(1e20), VT_BSTR, "VT_BSTR \"1E+20\""},
      {r4(12345678.0f), VT_BSTR, "VT_BSTR \"1.234568E+07\""},
      {r4(1.0f / 3), VT_BSTR, "VT_BSTR \"0.3333333\""},
  });
}

TEST_F(WindowsConformance, TextBecomesANumberInTheFormsOfTheLocale) {
  expect_changes({
      {str(u"1,000"), VT_I4, "VT_I4 1000"},
      {str(u"$11"), VT_I4, "VT_I4 11"},
      {str(u"$1,234.5"), VT_R8, "VT_R8 1234.5"},
      {str(u"(5)"), VT_I4, "VT_I4 -5"},
      {str(u"5-"), VT_I4, "VT_I4 -5"},
      {str(u"5+"), VT_I4, "VT_I4 5"},
      {str(u"+ 5"), VT_I4, "VT_I4 5"},
      {str(u"\n\r\v\f5"), VT_I2, "VT_I2 5"},
      {str(u"5\u00A0"), VT_I2, "VT_I2 5"},
      {str(u"&HF800"), VT_I4, "VT_I4 63488"},
      {str(u"&h0abcdef"), VT_I4, "VT_I4 11259375"},
      {str(u"&O300"), VT_I4, "VT_I4 192"},
      {str(u"#TRUE#"), VT_BOOL, "VT_BOOL -1"},
      {str(u"#FALSE#"), VT_BOOL, "VT_BOOL 0"},
      {str(u"12\0x"sv), VT_I4, "VT_I4 12"},  // the text ends at its first NUL
      {str(u"(5"), VT_I4, "DISP_E_TYPEMISMATCH"},
      {str(u"$"), VT_I4, "DISP_E_TYPEMISMATCH"},
  });
}

TEST_F(WindowsConformance, TypeTagsAreValidatedAsWindowsDoes) {
  expect_changes({
      {i4(7), VT_EMPTY, "VT_EMPTY"},
      {str(u"x"), VT_NULL, "VT_NULL"},
      {i4(7), 15, "DISP_E_BADVARTYPE"},
      {i4(7), VT_VOID, "DISP_E_BADVARTYPE"},
      {i4(7), VT_VECTOR | VT_I4, "DISP_E_BADVARTYPE"},
      {tagged(VT_VECTOR | VT_I4, 7), VT_I4, "DISP_E_BADVARTYPE"},
      {tagged(VT_BYREF | VT_VARIANT), VT_I4, "DISP_E_TYPEMISMATCH"},  // a null reference
  });
  const auto clear = [](VARTYPE vt) {
    return [vt] {
      VARIANT v;
      std::memset(&v, 0, sizeof v);
      v.vt = vt;
      const HRESULT hr = VariantClear(&v);
      return hr_name(hr) + " " + describe(v);
    };
  };
  expect_probes({
      {"clear a VT_RECORD", "S_OK VT_EMPTY", clear(VT_RECORD)},
      {"clear a VT_CLSID", "S_OK VT_EMPTY", clear(VT_CLSID)},
      {"clear a by-value VT_VARIANT", "S_OK VT_EMPTY", clear(VT_VARIANT)},
      {"clear a null VT_ARRAY", "S_OK VT_EMPTY", clear(VT_ARRAY | VT_I4)},
      {"clear a VT_VECTOR", "DISP_E_BADVARTYPE vt 4099", clear(VT_VECTOR | VT_I4)},
      {"copy a bad type onto itself", "DISP_E_BADVARTYPE",
       [] {
         VARIANT v;
         VariantInit(&v);
         v.vt = 15;
         return hr_name(VariantCopy(&v, &v));
       }},
      {"copy a by-value VT_VARIANT", "S_OK vt 12",
       [] {
         VARIANT src, dst;
         VariantInit(&src);
         VariantInit(&dst);
         src.vt = VT_VARIANT;
         const HRESULT hr = VariantCopy(&dst, &src);
         return hr_name(hr) + " " + describe(dst);
       }},
      {"VariantInit zeroes every byte", "0 nonzero bytes",
       [] {
         VARIANT v;
         std::memset(&v, 0xAB, sizeof v);
         VariantInit(&v);
         const auto* bytes = reinterpret_cast<const unsigned char*>(&v);
         int nonzero = 0;
         for (size_t i = 0; i < sizeof v; ++i) nonzero += bytes[i] != 0;
         return std::to_string(nonzero) + " nonzero bytes";
       }},
  });
}

std::string change_object(const Value& default_value, VARTYPE to, USHORT flags = 0) {
  DefaultValueObject object;
  VariantCopy(&object.value, Source(default_value).get());
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_DISPATCH;
  src.pdispVal = &object;
  const HRESULT hr = VariantChangeType(&dst, &src, flags, to);
  std::string out = outcome(hr, dst);
  if (SUCCEEDED(hr)) VariantClear(&dst);
  if (object.refs != 1) out += " (references left: " + std::to_string(object.refs) + ")";
  return out;
}

TEST_F(WindowsConformance, ObjectsConvertThroughTheirDefaultValue) {
  expect_probes({
      {"dispatch to VT_I4", "VT_I4 42", [] { return change_object(i4(42), VT_I4); }},
      {"dispatch to VT_BSTR", "VT_BSTR \"42\"", [] { return change_object(i4(42), VT_BSTR); }},
      {"dispatch with text to VT_R8", "VT_R8 2.5",
       [] { return change_object(str(u"2.5"), VT_R8); }},
      {"dispatch to VT_BOOL", "VT_BOOL -1", [] { return change_object(r8(0.5), VT_BOOL); }},
      {"no value property asked for", "DISP_E_TYPEMISMATCH",
       [] { return change_object(i4(42), VT_I4, VARIANT_NOVALUEPROP); }},
      {"how the value is asked", "DISPID 0, flags 2, 0 arguments",
       [] {
         DefaultValueObject object;
         VariantCopy(&object.value, Source(i4(1)).get());
         VARIANT src, dst;
         VariantInit(&src);
         VariantInit(&dst);
         src.vt = VT_DISPATCH;
         src.pdispVal = &object;
         VariantChangeType(&dst, &src, 0, VT_I2);
         return object.asked;
       }},
  });
}

std::string translate(OLE_COLOR color) {
  COLORREF out = 0xDEADBEEF;
  const HRESULT hr = OleTranslateColor(color, nullptr, &out);
  char text[32];
  std::snprintf(text, sizeof text, " 0x%08X", static_cast<unsigned>(out));
  return hr_name(hr) + text;
}

TEST_F(WindowsConformance, ColoursPassPaletteFormsThrough) {
  expect_probes({
      {"palette-relative RGB", "S_OK 0x02123456", [] { return translate(0x02123456); }},
      {"palette index", "S_OK 0x0100000A", [] { return translate(0x0100000A); }},
      {"plain RGB", "S_OK 0x00123456", [] { return translate(0x00123456); }},
      {"system colour COLOR_WINDOW", "S_OK 0x00FFFFFF", [] { return translate(0x80000005); }},
      {"system colour beyond COLOR_MENUBAR", "E_INVALIDARG 0xDEADBEEF",
       [] { return translate(0x8000001F); }},
      {"unknown form", "E_INVALIDARG 0xDEADBEEF", [] { return translate(0x03000000); }},
  });
}

// Describes a BSTR by its byte length, its characters and whether it is pointer-aligned.
std::string bstr_facts(BSTR b) {
  if (!b) return "null";
  std::string out = std::to_string(SysStringByteLen(b)) + " bytes " + quoted(b, SysStringLen(b));
  if (reinterpret_cast<uintptr_t>(b) % sizeof(void*)) out += " misaligned";
  return out;
}

TEST_F(WindowsConformance, BstrsAreWholeAndAligned) {
  expect_probes({
      {"copy a null BSTR", "S_OK 0 bytes \"\"",
       [] {
         VARIANT src, dst;
         VariantInit(&src);
         VariantInit(&dst);
         src.vt = VT_BSTR;
         src.bstrVal = nullptr;
         const HRESULT hr = VariantCopy(&dst, &src);
         std::string out = hr_name(hr) + " " + bstr_facts(dst.bstrVal);
         VariantClear(&dst);
         return out;
       }},
      {"SysAllocString of 1 to 9 characters", "aligned",
       [] {
         std::string out = "aligned";
         for (size_t n = 1; n < 10; ++n) {
           BSTR b = SysAllocString(std::u16string(n, u'x').c_str());
           if (reinterpret_cast<uintptr_t>(b) % sizeof(void*)) out = "misaligned";
           SysFreeString(b);
         }
         return out;
       }},
      {"SysAllocStringByteLen of 3 bytes", "3 bytes \"\\u6261\" then 0x63 0x00",
       [] {
         BSTR b = SysAllocStringByteLen("abc", 3);
         if (!b) return std::string("null");
         const auto* bytes = reinterpret_cast<const unsigned char*>(b);
         char tail[32];
         std::snprintf(tail, sizeof tail, " then 0x%02X 0x%02X", bytes[2], bytes[3]);
         std::string out = bstr_facts(b) + tail;
         SysFreeString(b);
         return out;
       }},
      {"SysStringByteLen of null", "0", [] { return std::to_string(SysStringByteLen(nullptr)); }},
      {"VariantCopy keeps an odd byte length", "S_OK 3 bytes \"\\u6261\"",
       [] {
         VARIANT src, dst;
         VariantInit(&src);
         VariantInit(&dst);
         src.vt = VT_BSTR;
         src.bstrVal = SysAllocStringByteLen("abc", 3);
         const HRESULT hr = VariantCopy(&dst, &src);
         std::string out = hr_name(hr) + " " + bstr_facts(dst.bstrVal);
         VariantClear(&dst);
         VariantClear(&src);
         return out;
       }},
      {"SysReAllocString", "1 22 bytes \"longer text\"",
       [] {
         BSTR b = SysAllocString(u"short");
         const INT ok = SysReAllocString(&b, u"longer text");
         std::string out = std::to_string(ok) + " " + bstr_facts(b);
         SysFreeString(b);
         return out;
       }},
      {"SysReAllocStringLen from its own characters", "1 4 bytes \"bc\"",
       [] {
         BSTR b = SysAllocString(u"abcd");
         const INT ok = SysReAllocStringLen(&b, b + 1, 2);
         std::string out = std::to_string(ok) + " " + bstr_facts(b);
         SysFreeString(b);
         return out;
       }},
      {"VariantCopyInd of a VT_BYREF | VT_I4", "VT_I4 5",
       [] {
         LONG five = 5;
         VARIANT src, dst;
         VariantInit(&src);
         VariantInit(&dst);
         src.vt = VT_BYREF | VT_I4;
         src.plVal = &five;
         return outcome(VariantCopyInd(&dst, &src), dst);
       }},
      {"VariantCopyInd in place of a VT_BYREF | VT_BSTR", "VT_BSTR \"kept\", a new string",
       [] {
         BSTR text = SysAllocString(u"kept");
         VARIANT v;
         VariantInit(&v);
         v.vt = VT_BYREF | VT_BSTR;
         v.pbstrVal = &text;
         std::string out = outcome(VariantCopyInd(&v, &v), v);
         if (v.vt == VT_BSTR) out += v.bstrVal != text ? ", a new string" : ", the same string";
         VariantClear(&v);
         SysFreeString(text);
         return out;
       }},
      {"VariantCopyInd of a reference to a reference to a VARIANT", "E_INVALIDARG",
       [] {
         LONG five = 5;
         VARIANT inner, middle, outer, dst;
         VariantInit(&inner);
         VariantInit(&middle);
         VariantInit(&outer);
         VariantInit(&dst);
         inner.vt = VT_BYREF | VT_I4;
         inner.plVal = &five;
         middle.vt = VT_BYREF | VT_VARIANT;
         middle.pvarVal = &inner;
         outer.vt = VT_BYREF | VT_VARIANT;
         outer.pvarVal = &middle;
         return outcome(VariantCopyInd(&dst, &outer), dst);
       }},
      {"VariantChangeTypeEx in English (United States)", "VT_I4 1000",
       [] {
         Source src(str(u"1,000"));
         VARIANT dst;
         VariantInit(&dst);
         return outcome(VariantChangeTypeEx(&dst, src.get(), 0x0409, 0, VT_I4), dst);
       }},
  });
}

std::string clsid_from(const char16_t* text) {
  CLSID out;
  std::memset(&out, 0xCC, sizeof out);
  const HRESULT hr = CLSIDFromString(text, &out);
  OLECHAR buffer[39];
  StringFromGUID2(out, buffer, 39);
  return hr_name(hr) + " " + quoted(buffer, 38);
}

TEST_F(WindowsConformance, ClsidFromStringWritesWhatItParsedBeforeFailing) {
  expect_probes({
      {"braces and lower case", "S_OK \"{834FBEE5-D957-11D3-9C50-0060972F00DC}\"",
       [] { return clsid_from(u"{834fbee5-d957-11d3-9c50-0060972f00dc}"); }},
      {"one character too many", "CO_E_CLASSSTRING \"{834FBEE5-D957-11D3-9C50-0060972F00DC}\"",
       [] { return clsid_from(u"{834FBEE5-D957-11D3-9C50-0060972F00DCC}"); }},
      {"no closing brace", "CO_E_CLASSSTRING \"{834FBEE5-D957-11D3-9C50-0060972F00DC}\"",
       [] { return clsid_from(u"{834FBEE5-D957-11D3-9C50-0060972F00DC"); }},
      {"a bad separator after the first field",
       "CO_E_CLASSSTRING \"{834FBEE5-CCCC-CCCC-CCCC-CCCCCCCCCCCC}\"",
       [] { return clsid_from(u"{834FBEE5+D957-11D3-9C50-0060972F00DC}"); }},
      {"no brace at all", "CO_E_CLASSSTRING \"{00000000-0000-0000-0000-000000000000}\"",
       [] { return clsid_from(u"ScanMontura.ScanMontura"); }},
      {"empty text", "CO_E_CLASSSTRING \"{00000000-0000-0000-0000-000000000000}\"",
       [] { return clsid_from(u""); }},
  });
}

}  // namespace
