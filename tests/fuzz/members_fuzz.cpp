// Fuzzing target: the member natives' handling of what a component answers, on a real JVM
// (-Xcheck:jni, every warning fatal).
//
// A wrapper is bound to a component of the target's own whose Invoke answers as the input says:
// any HRESULT, a result VARIANT of any type and value (BSTRs of any length, odd byte lengths
// too; objects; references to storage of exactly the referenced type's size; arrays and records
// that must never be read), and EXCEPINFO contents with or without a deferred fill-in. Each input
// calls one of the 85 natives (string arguments from the input). Checked after each call:
// - the Java result is the zero value with a Java exception pending (a JComException when the
//   component failed), or the result converted without one: the same bits for a type of the same
//   size and the other signedness, else what VariantChangeType makes of it; never an object
//   coerced;
// - every BSTR made (arguments, result, exception information) is freed: the live-BSTR counter
//   is back at its start; every object reference the component handed over is given back;
// - no JNI reference is left behind (counted every few hundred inputs).
#include <ezjcom/testing.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <oaidl.h>
#include <olectl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_jvm.h"
#include "fuzz_values.h"
#include "member_kinds.h"

using jtz::fuzz::broken;
using jtz::fuzz::referenced_size;

namespace {

JNIEnv* g_env = nullptr;
FuzzedDataProvider* g_in = nullptr;

// ---- The member table, as this target sees it ----
struct Row {
  const char* name;
  std::string signature;
  std::vector<std::string> args;  // kinds, in Java order
  std::string result;             // kind
  jmethodID method = nullptr;
};

std::vector<Row> rows() {
  std::vector<Row> out;
  auto add = [&out](const char* name, std::vector<std::string> args, std::string result) {
    std::string sig = "(";
    for (const auto& a : args) sig += jtz::test::jni_type(a);
    out.push_back(
        {name, sig + ")" + jtz::test::jni_type(result), std::move(args), std::move(result)});
  };
#define GETTER(N, D, K) add("get" #N, {}, #K);
#define SETTER(N, D, K) add("set" #N, {#K}, "None");
#define PROPERTY(N, D, K) GETTER(N, D, K) SETTER(N, D, K)
#define METHOD(N, D, R) add(#N, {}, #R);
#define METHOD1(N, D, R, A) add(#N, {#A}, #R);
#define METHOD2(N, D, R, A, B) add(#N, {#A, #B}, #R);
#include "members.def"
  return out;
}

std::vector<Row> g_rows;
jobject g_wrapper = nullptr;  // a puente.IScanMontura bound to the component below
jclass g_com_exception = nullptr;

VARTYPE kind_vt(const std::string& kind) {
  if (kind == "Bool") return VT_BOOL;
  if (kind == "Byte") return VT_UI1;
  if (kind == "Short") return VT_I2;
  if (kind == "Float") return VT_R4;
  if (kind == "String") return VT_BSTR;
  return VT_I4;  // int, colour, enumerations
}

// An object a result may hold; it counts its references.
class Counted : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs == 0) broken("an object was released more often than referenced");
    return --refs;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  // A second call for an object's value would break "one call per member".
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    broken("a result object was asked for its value");
  }
  ULONG refs = 1;
};

Counted g_object;

// What one answer of the component holds, freed when the input ends.
struct Answer {
  std::vector<std::unique_ptr<unsigned char[]>> storage;
  std::vector<BSTR> referenced_bstrs;
  int referenced_objects = 0;  // references to g_object held behind a VT_BYREF | VT_VARIANT
  VARIANT given;               // the result as the component gave it
  BSTR given_text = nullptr;   // a copy of its BSTR, for the expected value
  bool has_result = false;
  HRESULT hr = S_OK;
  ~Answer() {
    for (BSTR b : referenced_bstrs) SysFreeString(b);
    SysFreeString(given_text);
    for (; referenced_objects > 0; --referenced_objects) g_object.Release();
  }
};
Answer* g_answer = nullptr;

BSTR fuzz_bstr(FuzzedDataProvider& in) {
  const UINT bytes = in.ConsumeIntegralInRange(0, 15) == 0
                         ? in.ConsumeIntegralInRange<UINT>(0, 70000)
                         : in.ConsumeIntegralInRange<UINT>(0, 41);
  std::vector<char> data = in.ConsumeBytes<char>(bytes);
  data.resize(bytes, 'a');
  return SysAllocStringByteLen(data.data(), bytes);
}

VARTYPE fuzz_vartype(FuzzedDataProvider& in) {
  static const VARTYPE kTypes[] = {
      VT_EMPTY, VT_NULL,     VT_I2,    VT_I4,   VT_R4,      VT_R8,      VT_CY,      VT_DATE,
      VT_BSTR,  VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,
      VT_UI1,   VT_UI2,      VT_UI4,   VT_I8,   VT_UI8,     VT_INT,     VT_UINT,    VT_RECORD};
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: return in.ConsumeIntegral<VARTYPE>();
    case 1: return in.PickValueInArray(kTypes) | VT_BYREF;
    case 2: return in.PickValueInArray(kTypes) | VT_ARRAY;
    default: return in.PickValueInArray(kTypes);
  }
}

// A result VARIANT as a component may answer it; the caller owns what it holds by value.
void fuzz_result(FuzzedDataProvider& in, Answer& a, VARIANT* v, bool inner) {
  std::vector<unsigned char> bits = in.ConsumeBytes<unsigned char>(sizeof *v);
  bits.resize(sizeof *v);
  std::memcpy(v, bits.data(), sizeof *v);
  VARTYPE vt = fuzz_vartype(in);
  if (inner && (vt & VT_TYPEMASK) == VT_VARIANT) vt = VT_I4;
  v->vt = vt;
  const VARTYPE base = vt & VT_TYPEMASK;
  // A type no VARIANT may have carries arbitrary bits: nothing may read them.
  if (vt & (VT_VECTOR | VT_RESERVED)) return;
  if (vt & VT_BYREF) {
    if (in.ConsumeIntegralInRange(0, 9) == 0) {
      v->byref = nullptr;
      return;
    }
    const size_t size = (vt & VT_ARRAY) ? sizeof(void*) : referenced_size(base);
    a.storage.push_back(std::make_unique<unsigned char[]>(size));
    void* cell = a.storage.back().get();
    std::vector<unsigned char> value = in.ConsumeBytes<unsigned char>(size);
    value.resize(size);
    std::memcpy(cell, value.data(), size);
    v->byref = cell;
    if (vt & VT_ARRAY) {
      std::memset(cell, 0, size);
    } else if (base == VT_VARIANT) {
      fuzz_result(in, a, static_cast<VARIANT*>(cell), true);
      const VARTYPE inner_vt = static_cast<VARIANT*>(cell)->vt;
      // What the inner VARIANT holds by value stays the component's.
      if (!(inner_vt & (VT_BYREF | VT_ARRAY)) && (inner_vt & VT_TYPEMASK) == VT_BSTR)
        a.referenced_bstrs.push_back(static_cast<VARIANT*>(cell)->bstrVal);
      if (!(inner_vt & (VT_BYREF | VT_ARRAY | VT_VECTOR | VT_RESERVED)) &&
          ((inner_vt & VT_TYPEMASK) == VT_DISPATCH || (inner_vt & VT_TYPEMASK) == VT_UNKNOWN) &&
          static_cast<VARIANT*>(cell)->punkVal)
        ++a.referenced_objects;
    } else if (base == VT_BSTR) {
      BSTR b = in.ConsumeBool() ? fuzz_bstr(in) : nullptr;
      a.referenced_bstrs.push_back(b);
      std::memcpy(cell, &b, sizeof b);
    } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
      IUnknown* o = in.ConsumeBool() ? &g_object : nullptr;
      std::memcpy(cell, &o, sizeof o);
    }
  } else if (vt & VT_ARRAY) {
    v->parray = nullptr;  // no SAFEARRAY exists here
  } else if (base == VT_BSTR) {
    v->bstrVal = in.ConsumeIntegralInRange(0, 9) == 0 ? nullptr : fuzz_bstr(in);
  } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
    v->punkVal = nullptr;
    if (in.ConsumeBool()) {
      g_object.AddRef();
      v->punkVal = &g_object;
    }
  } else if (base == VT_RECORD) {
    v->brecVal.pvRecord = nullptr;
    v->brecVal.pRecInfo = nullptr;
  }
}

HRESULT STDMETHODCALLTYPE fill_in(EXCEPINFO* e) {
  if (!e->bstrDescription) e->bstrDescription = SysAllocString(u"filled in later");
  e->scode = DISP_E_EXCEPTION;
  return S_OK;
}

// The component: answers every member as the input says.
class Component : public Counted {
 public:
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO* excep, UINT*) override {
    FuzzedDataProvider& in = *g_in;
    Answer& a = *g_answer;
    static const HRESULT kAnswers[] = {S_OK,
                                       S_OK,
                                       S_OK,
                                       S_FALSE,
                                       0x00000002,
                                       E_FAIL,
                                       DISP_E_EXCEPTION,
                                       DISP_E_TYPEMISMATCH,
                                       E_OUTOFMEMORY,
                                       DISP_E_OVERFLOW,
                                       E_INVALIDARG};
    a.hr = in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<HRESULT>()
                                                : in.PickValueInArray(kAnswers);
    if (result && in.ConsumeIntegralInRange(0, 7) != 0) {
      fuzz_result(in, a, result, false);
      a.given = *result;
      a.has_result = true;
      if (result->vt == VT_BSTR && result->bstrVal)
        a.given_text = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(result->bstrVal),
                                             SysStringByteLen(result->bstrVal));
    }
    if (excep && in.ConsumeBool()) {
      excep->wCode = in.ConsumeIntegral<WORD>();
      excep->scode = in.ConsumeIntegral<SCODE>();
      excep->dwHelpContext = in.ConsumeIntegral<DWORD>();
      excep->bstrSource = in.ConsumeBool() ? fuzz_bstr(in) : nullptr;
      excep->bstrDescription = in.ConsumeBool() ? fuzz_bstr(in) : nullptr;
      excep->bstrHelpFile = in.ConsumeBool() ? fuzz_bstr(in) : nullptr;
      excep->pfnDeferredFillIn = in.ConsumeBool() ? fill_in : nullptr;
    }
    return a.hr;
  }
};
Component* g_component = nullptr;

jobject java_argument(JNIEnv* e, FuzzedDataProvider& in, const std::string& kind, jvalue* v) {
  *v = jvalue{};
  if (kind == "String") {
    if (in.ConsumeIntegralInRange(0, 15) == 0) return nullptr;
    const size_t n = in.ConsumeIntegralInRange(0, 15) == 0
                         ? in.ConsumeIntegralInRange<size_t>(0, 40000)
                         : in.ConsumeIntegralInRange<size_t>(0, 40);
    std::vector<jchar> text(n, in.ConsumeIntegral<jchar>());
    v->l = e->NewString(text.data(), static_cast<jsize>(n));
    if (!v->l) broken("no Java string");
    return v->l;
  }
  if (kind == "Color") {
    jclass c = e->FindClass("java/awt/Color");
    v->l = e->NewObject(c, e->GetMethodID(c, "<init>", "(III)V"), in.ConsumeIntegralInRange(0, 255),
                        in.ConsumeIntegralInRange(0, 255), in.ConsumeIntegralInRange(0, 255));
    if (e->ExceptionCheck()) broken("no colour");
    e->DeleteLocalRef(c);
    return v->l;
  }
  if (kind.rfind("Tx", 0) == 0) {
    const std::string cls = "puente/" + kind;
    jclass c = e->FindClass(cls.c_str());
    v->l = e->CallStaticObjectMethod(
        c, e->GetStaticMethodID(c, "fromValue", ("(I)L" + cls + ";").c_str()), 1);
    if (e->ExceptionCheck()) broken("no enumeration constant for 1");
    e->DeleteLocalRef(c);
    return v->l;
  }
  const jint n = in.ConsumeIntegral<jint>();
  if (kind == "Bool") v->z = n & 1;
  if (kind == "Byte") v->b = static_cast<jbyte>(n);
  if (kind == "Short") v->s = static_cast<jshort>(n);
  if (kind == "Int" || kind == "MachineInt") v->i = n;
  return nullptr;
}

// What the Java result must be when no exception is pending, from the result as given.
void check_value(JNIEnv* e, const std::string& kind, const jvalue& got, jobject object) {
  const Answer& a = *g_answer;
  const VARTYPE expected = kind_vt(kind);
  VARIANT given = a.given;
  if (!a.has_result) VariantInit(&given);
  if (given.vt == VT_BSTR) given.bstrVal = a.given_text;
  // An object, or one in the VARIANT a reference leads to: never coerced.
  const VARIANT& shown =
      given.vt == (VT_BYREF | VT_VARIANT) && given.pvarVal ? *given.pvarVal : given;
  const VARTYPE base = shown.vt & VT_TYPEMASK;
  if (base == VT_DISPATCH || base == VT_UNKNOWN) broken("an object result was coerced");
  // The value the result stands for: the same bits, or converted.
  VARIANT value;
  VariantInit(&value);
  const bool same_bits =
      given.vt == expected || (expected == VT_UI1 && given.vt == VT_I1) ||
      (expected == VT_I2 && given.vt == VT_UI2) ||
      (expected == VT_I4 && (given.vt == VT_UI4 || given.vt == VT_INT || given.vt == VT_UINT));
  if (same_bits) {
    value = given;
    value.vt = expected;
    if (expected == VT_BSTR)
      value.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(given.bstrVal),
                                            SysStringByteLen(given.bstrVal));
  } else if (FAILED(VariantChangeType(&value, &given, 0, expected))) {
    broken("a result that does not convert was taken");
  }
  bool equal = true;
  if (kind == "Bool") equal = got.z == (value.boolVal != 0);
  if (kind == "Byte") equal = got.b == static_cast<jbyte>(value.bVal);
  if (kind == "Short") equal = got.s == value.iVal;
  if (kind == "Int") equal = got.i == value.lVal;
  if (kind == "Float") equal = std::memcmp(&got.f, &value.fltVal, sizeof got.f) == 0;
  if (kind == "String") {
    const auto s = static_cast<jstring>(object);
    const jsize n = s ? e->GetStringLength(s) : -1;
    equal = s && static_cast<UINT>(n) == SysStringLen(value.bstrVal);
    if (equal && n > 0) {
      std::vector<jchar> chars(static_cast<size_t>(n));
      e->GetStringRegion(s, 0, n, chars.data());
      equal = std::memcmp(chars.data(), value.bstrVal, sizeof(jchar) * chars.size()) == 0;
    }
  }
  if (kind == "Color") {
    COLORREF rgb = 0;
    if (FAILED(OleTranslateColor(static_cast<OLE_COLOR>(value.lVal), nullptr, &rgb)))
      broken("a colour that does not translate was taken");
    jclass c = e->FindClass("java/awt/Color");
    const jint argb = object ? e->CallIntMethod(object, e->GetMethodID(c, "getRGB", "()I")) : 0;
    if (e->ExceptionCheck()) broken("Color.getRGB failed");
    e->DeleteLocalRef(c);
    equal = object && (argb & 0xFFFFFF) == static_cast<jint>((rgb & 0xFF) << 16 | (rgb & 0xFF00) |
                                                             (rgb >> 16 & 0xFF));
  }
  if (kind.rfind("Tx", 0) == 0) {
    jclass c = object ? e->GetObjectClass(object) : nullptr;
    equal = object && e->CallIntMethod(object, e->GetMethodID(c, "value", "()I")) == value.lVal;
    if (e->ExceptionCheck()) broken("value() failed");
    if (c) e->DeleteLocalRef(c);
  }
  VariantClear(&value);
  if (!equal) broken("the Java result is not the component's result converted", kind.c_str());
}

void set_up() {
  g_env = jtz::fuzz::start_jvm();
  JNIEnv* e = g_env;
  ezjcomTestJournalEnable(0);
  g_rows = rows();
  if (g_rows.size() != 85) broken("the member table has not 85 natives");
  jclass wrapper_class = e->FindClass("puente/IScanMontura");
  if (!wrapper_class) {
    e->ExceptionDescribe();
    broken("puente/IScanMontura not found");
  }
  for (Row& row : g_rows) {
    row.method = e->GetMethodID(wrapper_class, row.name, row.signature.c_str());
    if (!row.method) broken("a native is not declared", row.name);
  }
  jobject wrapper = e->NewObject(wrapper_class, e->GetMethodID(wrapper_class, "<init>", "()V"));
  if (!wrapper) broken("no wrapper");
  // The wrapper bound to the component through the runtime's table, with a
  // reference of its own that nothing gives back.
  g_component = new (CoTaskMemAlloc(sizeof(Component))) Component;
  g_component->AddRef();
  const jint value = ezjcomTestBind(g_component);
  if (!value) broken("the component could not be bound");
  e->SetIntField(wrapper, e->GetFieldID(wrapper_class, "comId", "I"), value);
  g_wrapper = e->NewGlobalRef(wrapper);  // never collected: nothing gives its reference back
  e->DeleteLocalRef(wrapper);
  e->DeleteLocalRef(wrapper_class);
  jclass exception = e->FindClass("ezjcom/JComException");
  g_com_exception = static_cast<jclass>(e->NewGlobalRef(exception));
  e->DeleteLocalRef(exception);
  jtz::fuzz::check_jni_clean("set-up");
}

void run_one(const uint8_t* data, size_t size) {
  JNIEnv* e = g_env;
  FuzzedDataProvider in(data, size);
  const long bstrs_at_start = jtzcom_live_bstrs();
  const ULONG object_refs = g_object.refs;
  const ULONG component_refs = g_component->refs;
  const Row& row = g_rows[in.ConsumeIntegralInRange<size_t>(0, g_rows.size() - 1)];
  if (std::getenv("JTZ_FUZZ_DEBUG"))
    std::fprintf(stderr, "row %s %s\n", row.name, row.signature.c_str());
  jvalue args[2] = {};
  jobject locals[2] = {};
  for (size_t i = 0; i < row.args.size(); ++i)
    locals[i] = java_argument(e, in, row.args[i], &args[i]);

  auto answer = std::make_unique<Answer>();
  g_answer = answer.get();
  g_in = &in;
  jvalue got{};
  jobject object = nullptr;
  const std::string& r = row.result;
  if (r == "None")
    e->CallVoidMethodA(g_wrapper, row.method, args);
  else if (r == "Bool")
    got.z = e->CallBooleanMethodA(g_wrapper, row.method, args);
  else if (r == "Byte")
    got.b = e->CallByteMethodA(g_wrapper, row.method, args);
  else if (r == "Short")
    got.s = e->CallShortMethodA(g_wrapper, row.method, args);
  else if (r == "Int")
    got.i = e->CallIntMethodA(g_wrapper, row.method, args);
  else if (r == "Float")
    got.f = e->CallFloatMethodA(g_wrapper, row.method, args);
  else
    object = e->CallObjectMethodA(g_wrapper, row.method, args);
  g_in = nullptr;

  jthrowable thrown = e->ExceptionOccurred();
  if (thrown) {
    e->ExceptionClear();
    const bool zero = got.j == 0 && object == nullptr;
    if (!zero) broken("a value was returned with an exception pending", row.name);
    if (FAILED(answer->hr) && !e->IsInstanceOf(thrown, g_com_exception))
      broken("a failed call raised something else than JComException", row.name);
    e->DeleteLocalRef(thrown);
  } else {
    if (FAILED(answer->hr)) broken("a failed call raised nothing", row.name);
    if (r != "None") check_value(e, r, got, object);
  }
  if (object) e->DeleteLocalRef(object);
  for (jobject l : locals)
    if (l) e->DeleteLocalRef(l);
  jtz::fuzz::check_jni_clean(row.name);
  // The call as the component answered it, for the reports below.
  char what[160];
  std::snprintf(what, sizeof what, "%s answered 0x%08X with a result of type 0x%04X", row.name,
                static_cast<unsigned>(answer->hr), answer->has_result ? answer->given.vt : 0);
  answer.reset();
  g_answer = nullptr;
  if (g_object.refs != object_refs) broken("a result object's reference was not given back", what);
  if (g_component->refs != component_refs)
    broken("the call changed the component's references", what);
  if (jtzcom_live_bstrs() != bstrs_at_start) broken("a BSTR was not freed, or freed twice", what);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  set_up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static jtz::fuzz::ReferenceWatch watch(run_one);
  run_one(data, size);
  watch.after(data, size);
  return 0;
}
