// IDispatch of the simulated component: shapes, argument checks and
// coercion, result types, the call record and the test overrides.
#include "scanmontura_interface.h"
#include "sim_test_support.h"

#include <dlfcn.h>

#include <cstdint>
#include <set>
#include <vector>

using namespace simtest;

namespace {

enum ShapeSet { kProperty, kGetter, kSetter, kMethod };

struct Row {
  const char* name;
  DISPID dispid;
  ShapeSet shapes;
  VARTYPE vt;  // property value, or method result (VT_EMPTY: none)
  UINT argCount;
  VARTYPE args[2];  // method parameters, declaration order
};

// The members as the component describes them: a property's get and put rows
// make one member.
std::vector<Row> DescribedMembers() {
  using scanmontura::Kind;
  std::vector<Row> rows;
  for (const scanmontura::Function& f : scanmontura::kIScanMonturaFunctions) {
    Row* r = nullptr;
    for (Row& known : rows)
      if (known.dispid == f.dispid) r = &known;
    if (!r) {
      rows.push_back(Row{f.name, f.dispid, kMethod, VT_EMPTY, 0, {VT_EMPTY, VT_EMPTY}});
      r = &rows.back();
      r->shapes = f.kind == Kind::kGet ? kGetter : f.kind == Kind::kPut ? kSetter : kMethod;
    } else if (f.kind != Kind::kMethod) {
      r->shapes = kProperty;
    }
    if (f.kind == Kind::kGet) r->vt = f.result.vt;
    if (f.kind == Kind::kPut) r->vt = f.params[0].type.vt;
    if (f.kind == Kind::kMethod) {
      r->vt = f.result.vt == VT_VOID ? static_cast<VARTYPE>(VT_EMPTY) : f.result.vt;
      r->argCount = f.paramCount;
      for (unsigned k = 0; k < f.paramCount; ++k) r->args[k] = f.params[k].type.vt;
    }
  }
  return rows;
}

const std::vector<Row> kRows = DescribedMembers();

// A valid argument of a type: 1 for numbers (a valid port, speed, mode and
// eye), true, "x".
struct ValidArg {
  VARIANT v;
  explicit ValidArg(VARTYPE vt) {
    VariantInit(&v);
    v.vt = vt;
    switch (vt) {
      case VT_BOOL: v.boolVal = VARIANT_TRUE; break;
      case VT_UI1: v.bVal = 1; break;
      case VT_I2: v.iVal = 1; break;
      case VT_I4: v.lVal = 1; break;
      case VT_INT: v.intVal = 1; break;
      case VT_BSTR: v.bstrVal = SysAllocString(u"x"); break;
      default: break;
    }
  }
  ~ValidArg() { VariantClear(&v); }
};

TEST(Members, DescriptionHasTheShapesOfTheInterface) {
  int gets = 0, puts = 0, methods = 0;
  std::set<DISPID> ids;
  for (const Row& r : kRows) {
    EXPECT_TRUE(ids.insert(r.dispid).second) << r.name;
    gets += r.shapes == kProperty || r.shapes == kGetter;
    puts += r.shapes == kProperty || r.shapes == kSetter;
    methods += r.shapes == kMethod;
  }
  EXPECT_EQ(gets, 38);
  EXPECT_EQ(puts, 30);
  EXPECT_EQ(methods, 17);
  EXPECT_EQ(ids.count(45), 0u);
}

TEST(Members, EveryShapeAnsweredOrRefused) {
  Component c;
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.name);
    const bool gettable = r.shapes == kProperty || r.shapes == kGetter;
    const bool puttable = r.shapes == kProperty || r.shapes == kSetter;

    Variant got;
    HRESULT hr = c.Get(r.dispid, &got);
    if (gettable) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(got.v.vt, r.vt);
    } else {
      EXPECT_EQ(hr, DISP_E_MEMBERNOTFOUND);
    }

    if (puttable) {
      // Putting back what was read (or a valid value) is always accepted.
      ValidArg valid(r.vt);
      EXPECT_EQ(c.Put(r.dispid, gettable ? got.v : valid.v), S_OK);
    } else {
      ValidArg valid(VT_I4);
      EXPECT_EQ(c.Put(r.dispid, valid.v), DISP_E_MEMBERNOTFOUND);
    }

    if (r.shapes == kMethod) {
      ValidArg a0(r.args[0]), a1(r.args[1]);
      VARIANT args[2] = {r.argCount == 2 ? a1.v : a0.v, a0.v};  // last first
      Variant result;
      hr = c.Call(r.dispid, &result, args, r.argCount);
      if (r.dispid != 47) {  // Explora needs an open port
        EXPECT_EQ(hr, S_OK);
      }
      if (SUCCEEDED(hr)) {
        EXPECT_EQ(result.v.vt, r.vt);
      }
      VARIANT extra[3] = {a0.v, a0.v, a0.v};
      EXPECT_EQ(c.Call(r.dispid, nullptr, extra, r.argCount + 1), DISP_E_BADPARAMCOUNT);
    } else {
      EXPECT_EQ(c.Call(r.dispid), DISP_E_MEMBERNOTFOUND);
    }
  }
}

TEST(Members, UnknownDispidsAreNotFound) {
  Component c;
  for (DISPID id : {45, 0, 58, 100, -1, -500, -516, -518}) {
    Variant r;
    EXPECT_EQ(c.Get(id, &r), DISP_E_MEMBERNOTFOUND) << id;
    EXPECT_EQ(c.Call(id), DISP_E_MEMBERNOTFOUND) << id;
    EXPECT_EQ(c.Put(id, I4(1)), DISP_E_MEMBERNOTFOUND) << id;
  }
}

TEST(Members, MalformedCallsAreRefused) {
  Component c;
  VARIANT arg = I4(3);
  DISPID named = DISPID_PROPERTYPUT;
  Variant r;

  DISPPARAMS getWithArg{&arg, nullptr, 1, 0};
  EXPECT_EQ(c.Raw(11, DISPATCH_PROPERTYGET, &getWithArg, &r), DISP_E_BADPARAMCOUNT);

  DISPPARAMS putNoArgs{nullptr, &named, 0, 1};
  EXPECT_EQ(c.Raw(11, DISPATCH_PROPERTYPUT, &putNoArgs, &r), DISP_E_BADPARAMCOUNT);

  DISPPARAMS putUnnamed{&arg, nullptr, 1, 0};
  EXPECT_EQ(c.Raw(11, DISPATCH_PROPERTYPUT, &putUnnamed, &r), DISP_E_PARAMNOTFOUND);

  DISPID wrongName = 0;
  DISPPARAMS putWrongName{&arg, &wrongName, 1, 1};
  EXPECT_EQ(c.Raw(11, DISPATCH_PROPERTYPUT, &putWrongName, &r), DISP_E_PARAMNOTFOUND);

  DISPPARAMS put{&arg, &named, 1, 1};
  EXPECT_EQ(c.Raw(11, DISPATCH_PROPERTYPUTREF, &put, &r), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(c.GetI4(11), 0) << "nothing was put";

  // A method may also be asked for with METHOD | PROPERTYGET, as scripting clients do.
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(c.Raw(37, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &r), S_OK);
  EXPECT_EQ(c.Raw(57, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &r), S_OK);

  EXPECT_EQ(
      c.disp()->Invoke(57, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr),
      DISP_E_UNKNOWNINTERFACE);
}

TEST(Members, ArgumentsAreCoercedOrMismatched) {
  Component c;
  EXPECT_EQ(c.Put(48, I4(2)), S_OK) << "Ojo takes VT_INT; VT_I4 coerces";
  EXPECT_EQ(c.Put(11, Int(7)), S_OK);
  EXPECT_EQ(c.GetI4(11), 7);
  EXPECT_EQ(c.Put(1, I4(0)), S_OK);
  EXPECT_FALSE(c.GetBool(1));
  EXPECT_EQ(c.Put(DISPID_TEXT, I4(42)), S_OK);
  EXPECT_EQ(c.Text(), "42");
  BstrArg number("12");
  EXPECT_EQ(c.Put(11, number.v), S_OK);
  EXPECT_EQ(c.GetI4(11), 12);

  SHORT port = 3;
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_I2;
  byRef.piVal = &port;
  EXPECT_EQ(c.Put(34, byRef), S_OK);
  EXPECT_EQ(c.GetI2(43), 1) << "port open";

  UINT argErr = 99;
  BstrArg word("abc");
  EXPECT_EQ(c.Put(11, word.v, nullptr, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(c.Put(15, I4(300)), DISP_E_TYPEMISMATCH) << "300 does not fit the byte";

  // GetSelTextBuf(byte, int): rgvarg[1] is the byte.
  VARIANT args[2] = {I4(1), word.v};
  DISPPARAMS p{args, nullptr, 2, 0};
  Variant r;
  argErr = 99;
  EXPECT_EQ(c.Raw(25, DISPATCH_METHOD, &p, &r, nullptr, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
}

TEST(Members, ResultsAreWrittenOnlyWhereAsked) {
  Component c;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(c.Raw(DISPID_TEXT, DISPATCH_PROPERTYGET, &none, nullptr), S_OK);
  EXPECT_EQ(c.Raw(57, DISPATCH_PROPERTYGET, &none, nullptr), S_OK);

  Variant r;
  EXPECT_EQ(c.Call(18, &r), S_OK);
  EXPECT_EQ(r.v.vt, VT_EMPTY) << "a method without result leaves VT_EMPTY";
  EXPECT_EQ(c.Put(DISPID_BACKCOLOR, I4(0x00563412)), S_OK);
  EXPECT_EQ(c.GetI4(DISPID_BACKCOLOR), 0x00563412);
}

TEST(Members, DefaultsThatClientsSee) {
  Component c;
  for (DISPID id : {1, 2, 5, DISPID_ENABLED, 8, 14, 17}) EXPECT_TRUE(c.GetBool(id)) << id;
  for (DISPID id : {12, 13, 16, 28, 29, 33}) EXPECT_FALSE(c.GetBool(id)) << id;
  EXPECT_EQ(static_cast<DWORD>(c.GetI4(DISPID_BACKCOLOR)), 0x80000005u) << "a system colour";
  EXPECT_EQ(c.GetI4(3), 1);  // bsSingle
  EXPECT_EQ(c.GetI4(9), 3);  // imDontCare
  EXPECT_EQ(c.GetI4(57), 0);
  EXPECT_EQ(c.GetStr(50), "") << "no trace yet";
}

TEST(Members, EnumerationsAreValidatedWithAReason) {
  Component c;
  struct {
    DISPID id;
    LONG high;
    const char* name;
  } enums[] = {{3, 5, "BorderStyle"}, {4, 2, "CharCase"}, {7, 1, "DragMode"}, {9, 11, "ImeMode"}};
  for (auto& e : enums) {
    SCOPED_TRACE(e.name);
    for (LONG v = 0; v <= e.high; ++v) {
      EXPECT_EQ(c.Put(e.id, I4(v)), S_OK);
      EXPECT_EQ(c.GetI4(e.id), v);
    }
    for (LONG bad : {LONG(-1), e.high + 1}) {
      ExcepInfo ei;
      EXPECT_EQ(c.Put(e.id, I4(bad), &ei.e), E_INVALIDARG);
      EXPECT_EQ(ei.e.scode, E_INVALIDARG);
      EXPECT_EQ(ei.source(), "ScanMontura");
      EXPECT_NE(ei.description().find(e.name), std::string::npos) << ei.description();
    }
    EXPECT_EQ(c.GetI4(e.id), e.high) << "a refused value changes nothing";
  }
  EXPECT_EQ(c.Put(4, I4(0)), S_OK);
}

TEST(Members, NamesMapToDispids) {
  Component c;
  auto idOf = [&](const char* name, DISPID* id) {
    OleString s = Ole(name);
    LPOLESTR p = s.data();
    return c.disp()->GetIDsOfNames(IID_NULL, &p, 1, 0, id);
  };
  DISPID id = 0;
  EXPECT_EQ(idOf("text", &id), S_OK);
  EXPECT_EQ(id, DISPID_TEXT);
  EXPECT_EQ(idOf("GetSelTextBuf", &id), S_OK);
  EXPECT_EQ(id, 25);
  EXPECT_EQ(idOf("Nada", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST(CallRecord, KeepsWhatTheLatestInvokeReceived) {
  Component c;
  SimCallRecord rec{};
  ASSERT_EQ(c.ctl()->GetLastCall(&rec), S_OK);
  EXPECT_EQ(rec.calls, 0u);

  BstrArg text("abc");
  EXPECT_EQ(c.Put(DISPID_TEXT, text.v), S_OK);
  ASSERT_EQ(c.ctl()->GetLastCall(&rec), S_OK);
  EXPECT_EQ(rec.dispid, DISPID_TEXT);
  EXPECT_EQ(rec.flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(rec.cArgs, 1u);
  EXPECT_EQ(rec.cNamedArgs, 1u);
  EXPECT_EQ(rec.named[0], DISPID_PROPERTYPUT);
  EXPECT_EQ(rec.args[0].vt, VT_BSTR);
  EXPECT_EQ(rec.args[0].bstrVal, text.v.bstrVal);
  EXPECT_TRUE(rec.resultGiven);
  EXPECT_EQ(rec.calls, 1u);

  VARIANT args[2] = {I4(10), UI1(65)};
  DISPPARAMS p{args, nullptr, 2, 0};
  EXPECT_EQ(c.Raw(25, DISPATCH_METHOD, &p, nullptr), S_OK);
  ASSERT_EQ(c.ctl()->GetLastCall(&rec), S_OK);
  EXPECT_EQ(rec.dispid, 25);
  EXPECT_EQ(rec.args[0].vt, VT_I4);
  EXPECT_EQ(rec.args[0].lVal, 10);
  EXPECT_EQ(rec.args[1].vt, VT_UI1);
  EXPECT_EQ(rec.args[1].bVal, 65);
  EXPECT_FALSE(rec.resultGiven);

  Variant r;
  EXPECT_EQ(c.Get(45, &r), DISP_E_MEMBERNOTFOUND);
  ASSERT_EQ(c.ctl()->GetLastCall(&rec), S_OK);
  EXPECT_EQ(rec.dispid, 45) << "refused calls are recorded too";
  EXPECT_EQ(rec.resultVtOnEntry, VT_EMPTY);
  EXPECT_EQ(rec.calls, 3u);
}

TEST(TestControl, OverrideResultReplacesTheAnswer) {
  Component c;
  VARIANT empty;
  VariantInit(&empty);
  ASSERT_EQ(c.ctl()->OverrideResult(51, &empty, S_FALSE), S_OK);
  Variant r;
  EXPECT_EQ(c.Get(51, &r), S_FALSE);
  EXPECT_EQ(r.v.vt, VT_EMPTY);

  BstrArg text("12.5");
  ASSERT_EQ(c.ctl()->OverrideResult(51, &text.v, S_OK), S_OK);
  Variant s;
  EXPECT_EQ(c.Get(51, &s), S_OK);
  EXPECT_EQ(s.str(), "12.5");

  ASSERT_EQ(c.ctl()->OverrideResult(51, nullptr, S_OK), S_OK);
  EXPECT_EQ(c.GetR4(51), 0.0f);
}

TEST(TestControl, FailMemberFailsWithItsDescription) {
  Component c;
  ASSERT_EQ(c.ctl()->FailMember(57, E_FAIL, u"Tracer offline"), S_OK);
  ExcepInfo ei;
  Variant r;
  EXPECT_EQ(c.Get(57, &r, &ei.e), E_FAIL);
  EXPECT_EQ(r.v.vt, VT_EMPTY);
  EXPECT_EQ(ei.e.wCode, 0);
  EXPECT_EQ(ei.e.scode, E_FAIL);
  EXPECT_EQ(ei.source(), "ScanMontura");
  EXPECT_EQ(ei.description(), "Tracer offline");
  EXPECT_EQ(c.Get(57, &r), E_FAIL) << "without EXCEPINFO as well";

  ASSERT_EQ(c.ctl()->FailMember(57, 0, nullptr), S_OK);
  EXPECT_EQ(c.GetI4(57), 0);
}

TEST(Identity, InterfacesAndTaskMemory) {
  Component c;
  IUnknown* unk = nullptr;
  IDispatch* typed = nullptr;
  ASSERT_EQ(c.disp()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  ASSERT_EQ(c.disp()->QueryInterface(kIidIScanMontura, reinterpret_cast<void**>(&typed)), S_OK);
  EXPECT_EQ(static_cast<void*>(unk), static_cast<void*>(c.disp()));
  EXPECT_EQ(typed, c.disp());
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(c.disp()->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  if (sizeof(void*) == 8) {
    EXPECT_LT(reinterpret_cast<uintptr_t>(c.disp()), uintptr_t{1} << 31);
  }
  unk->Release();
  typed->Release();
}

TEST(Module, CanUnloadOnlyWithoutObjects) {
  void* module = dlopen("libScanMonturaSim.so", RTLD_NOW | RTLD_NOLOAD);
  if (!module) {
    Component warmup;  // loads the module through the registry
    module = dlopen("libScanMonturaSim.so", RTLD_NOW | RTLD_NOLOAD);
  }
  ASSERT_NE(module, nullptr);
  auto canUnload = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllCanUnloadNow"));
  auto getClass =
      reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(dlsym(module, "DllGetClassObject"));
  ASSERT_NE(canUnload, nullptr);
  ASSERT_NE(getClass, nullptr);
  EXPECT_EQ(canUnload(), S_OK);
  {
    Component c;
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClass(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(canUnload(), S_FALSE);
  ASSERT_EQ(getClass(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
  void* obj = nullptr;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &obj), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  EXPECT_EQ(canUnload(), S_OK);

  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClass(kIidIScanMontura, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  dlclose(module);
}

TEST(Module, FirstInstanceIsTheRunningOne) {
  IUnknown* running = nullptr;
  EXPECT_EQ(GetActiveObject(kClsid, nullptr, &running), MK_E_UNAVAILABLE);
  {
    Component first;
    Component second;
    ASSERT_EQ(GetActiveObject(kClsid, nullptr, &running), S_OK);
    EXPECT_EQ(static_cast<void*>(running), static_cast<void*>(first.disp()));
    running->Release();
  }
  EXPECT_EQ(GetActiveObject(kClsid, nullptr, &running), MK_E_UNAVAILABLE);
}

}  // namespace
