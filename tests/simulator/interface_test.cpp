// The component's own description of IScanMontura against the bridge's member
// table, row by row; and what the component tells a client about itself
// (GetTypeInfo, GetIDsOfNames) against its description.
#include "scanmontura_interface.h"
#include "sim_test_support.h"

#include <dlfcn.h>

#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "values.h"  // the bridge's value kinds: the VARTYPE each is sent and read as

using namespace simtest;
using scanmontura::Function;
using scanmontura::Kind;

namespace {

// One function of an interface, as either side states it.
struct Fn {
  std::string name;
  DISPID dispid;
  Kind kind;
  VARTYPE result;
  std::string resultIdl;
  std::vector<VARTYPE> params;
  std::vector<std::string> paramsIdl;
};

const char* KindName(Kind k) {
  return k == Kind::kGet ? "propget" : k == Kind::kPut ? "propput" : "method";
}

std::string Vt(VARTYPE vt) {
  std::ostringstream s;
  s << "VT " << vt;
  return s.str();
}

std::string Describe(const Fn& f) {
  std::ostringstream s;
  s << KindName(f.kind) << " " << f.name << " id " << f.dispid << ": " << f.resultIdl << " ("
    << Vt(f.result) << ")(";
  for (size_t k = 0; k < f.params.size(); ++k)
    s << (k ? ", " : "") << f.paramsIdl[k] << " (" << Vt(f.params[k]) << ")";
  return s.str() + ")";
}

// ---- the bridge's side: members/members.def with the kinds of members/values.h ----

// The IDL type of each bridge kind: the name the component's description must
// give the value (a plain long is no enumeration and no colour).
template <class K>
struct Kinded {
  VARTYPE vt;
  const char* idl;
};
#define JTZ_KIND(K, Idl) \
  const Kinded<jtz::kinds::K> k##K { jtz::kinds::K::vt, Idl }
JTZ_KIND(Bool, "VARIANT_BOOL");
JTZ_KIND(Byte, "unsigned char");
JTZ_KIND(Short, "short");
JTZ_KIND(Int, "long");
JTZ_KIND(MachineInt, "int");
JTZ_KIND(Float, "float");
JTZ_KIND(String, "BSTR");
JTZ_KIND(Color, "OLE_COLOR");
JTZ_KIND(TxFormBorderStyle, "TxFormBorderStyle");
JTZ_KIND(TxEditCharCase, "TxEditCharCase");
JTZ_KIND(TxDragMode, "TxDragMode");
JTZ_KIND(TxImeMode, "TxImeMode");
#undef JTZ_KIND
const Kinded<jtz::kinds::None> kNone{VT_VOID, "void"};

template <class K>
Fn Row(const char* name, DISPID id, Kind kind, const Kinded<K>& result) {
  return Fn{name, id, kind, result.vt, result.idl, {}, {}};
}

std::vector<Fn> BridgeFunctions() {
  std::vector<Fn> out;
  auto with = [](Fn f, VARTYPE vt, const char* idl) {
    f.params.push_back(vt);
    f.paramsIdl.push_back(idl);
    return f;
  };
#define PROPERTY(N, D, K)                      \
  out.push_back(Row(#N, D, Kind::kGet, k##K)); \
  out.push_back(with(Row(#N, D, Kind::kPut, kNone), k##K.vt, k##K.idl));
#define GETTER(N, D, K) out.push_back(Row(#N, D, Kind::kGet, k##K));
#define SETTER(N, D, K) out.push_back(with(Row(#N, D, Kind::kPut, kNone), k##K.vt, k##K.idl));
#define METHOD(N, D, R) out.push_back(Row(#N, D, Kind::kMethod, k##R));
#define METHOD1(N, D, R, A) out.push_back(with(Row(#N, D, Kind::kMethod, k##R), k##A.vt, k##A.idl));
#define METHOD2(N, D, R, A, B) \
  out.push_back(with(with(Row(#N, D, Kind::kMethod, k##R), k##A.vt, k##A.idl), k##B.vt, k##B.idl));
#include "members.def"
  return out;
}

// ---- the component's side ----

std::vector<Fn> DescribedFunctions(const scanmontura::Interface& in) {
  std::vector<Fn> out;
  for (size_t i = 0; i < in.count; ++i) {
    const Function& f = in.functions[i];
    Fn fn{f.name, f.dispid, f.kind, f.result.vt, f.result.idl, {}, {}};
    for (unsigned k = 0; k < f.paramCount; ++k) {
      fn.params.push_back(f.params[k].type.vt);
      fn.paramsIdl.push_back(f.params[k].type.idl);
    }
    out.push_back(fn);
  }
  return out;
}

// Every difference between two lists of functions, a function being known by
// its name and invocation kind.
std::vector<std::string> Differences(const std::vector<Fn>& bridge,
                                     const std::vector<Fn>& component) {
  std::vector<std::string> out;
  auto find = [](const std::vector<Fn>& in, const Fn& f) -> const Fn* {
    for (const Fn& g : in)
      if (g.name == f.name && g.kind == f.kind) return &g;
    return nullptr;
  };
  for (const Fn& b : bridge) {
    const Fn* c = find(component, b);
    if (!c) {
      out.push_back("the bridge calls " + Describe(b) + ", which the component does not describe");
    } else if (b.dispid != c->dispid || b.result != c->result || b.resultIdl != c->resultIdl ||
               b.params != c->params || b.paramsIdl != c->paramsIdl) {
      out.push_back("the bridge calls " + Describe(b) + ", the component describes " +
                    Describe(*c));
    }
  }
  for (const Fn& c : component)
    if (!find(bridge, c)) out.push_back("the bridge does not call " + Describe(c));
  // Two functions of one kind under one DISPID are ambiguous on either side.
  for (const std::vector<Fn>* side : {&bridge, &component})
    for (size_t i = 0; i < side->size(); ++i)
      for (size_t j = i + 1; j < side->size(); ++j)
        if ((*side)[i].dispid == (*side)[j].dispid && (*side)[i].kind == (*side)[j].kind)
          out.push_back(std::string(side == &bridge ? "the bridge" : "the component") +
                        " has two " + KindName((*side)[i].kind) + " functions with id " +
                        std::to_string((*side)[i].dispid));
  return out;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += "\n  " + l;
  return out;
}

TEST(Interface, BridgeTableAgreesWithTheComponentsDescription) {
  const std::vector<std::string> diff =
      Differences(BridgeFunctions(), DescribedFunctions(scanmontura::kIScanMontura));
  EXPECT_TRUE(diff.empty()) << diff.size() << " differences:" << Lines(diff);
}

// The comparison itself names what differs, each difference once.
TEST(Interface, ComparisonNamesEveryDifference) {
  std::vector<Fn> bridge = DescribedFunctions(scanmontura::kIScanMontura);
  std::vector<Fn> component = bridge;
  EXPECT_TRUE(Differences(bridge, component).empty());
  for (Fn& f : bridge) {
    if (f.name == "BoxH") f.dispid = 45;
    if (f.name == "Velocidad") f.params = {VT_I4};
    if (f.name == "BorderStyle" && f.kind == Kind::kGet) f.resultIdl = "TxDragMode";
  }
  bridge.push_back(Fn{"Nada", 99, Kind::kMethod, VT_VOID, "void", {}, {}});
  component.erase(component.begin());  // AutoSelect's get
  const std::vector<std::string> diff = Differences(bridge, component);
  const char* expected[] = {"propget BoxH id 45",
                            "propput Velocidad id 39: void (VT 24)(int (VT 3))",
                            "propget BorderStyle id 3: TxDragMode", "method Nada id 99",
                            "the bridge calls propget AutoSelect id 1"};
  ASSERT_EQ(diff.size(), std::size(expected)) << Lines(diff);
  for (const char* e : expected) {
    bool named = false;
    for (const std::string& d : diff) named = named || d.find(e) != std::string::npos;
    EXPECT_TRUE(named) << e << " not named in:" << Lines(diff);
  }
}

// ---- what a client learns from the component ----

struct TypeAttr {
  ITypeInfo* info;
  TYPEATTR* attr = nullptr;
  explicit TypeAttr(ITypeInfo* i) : info(i) { EXPECT_EQ(info->GetTypeAttr(&attr), S_OK); }
  ~TypeAttr() {
    if (attr) info->ReleaseTypeAttr(attr);
  }
};

std::vector<std::string> Names(ITypeInfo* info, MEMBERID id) {
  BSTR names[4] = {};
  UINT count = 0;
  std::vector<std::string> out;
  if (FAILED(info->GetNames(id, names, 4, &count))) return {"<failed>"};
  for (UINT k = 0; k < count; ++k) {
    out.push_back(Narrow(names[k], SysStringLen(names[k])));
    SysFreeString(names[k]);
  }
  return out;
}

TEST(TypeInfo, DescribesEachFunctionOfTheDescription) {
  Component c;
  UINT count = 0;
  ASSERT_EQ(c.disp()->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = nullptr;
  ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(c.disp()->GetTypeInfo(1, 0, &none), DISP_E_BADINDEX);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(c.disp()->GetTypeInfo(0, 0, &info), S_OK);
  ASSERT_NE(info, nullptr);

  const scanmontura::Interface& in = scanmontura::kIScanMontura;
  {
    TypeAttr a(info);
    ASSERT_NE(a.attr, nullptr);
    EXPECT_EQ(std::memcmp(&a.attr->guid, &kIidIScanMontura, sizeof(GUID)), 0);
    EXPECT_EQ(a.attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(a.attr->cFuncs, in.count);
    EXPECT_EQ(a.attr->cVars, 0);
    EXPECT_TRUE(a.attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  }
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Narrow(name, SysStringLen(name)), "IScanMontura");
  SysFreeString(name);

  for (UINT i = 0; i < in.count; ++i) {
    const Function& f = in.functions[i];
    SCOPED_TRACE(std::string(KindName(f.kind)) + " " + f.name);
    FUNCDESC* d = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &d), S_OK);
    EXPECT_EQ(d->memid, f.dispid);
    EXPECT_EQ(d->funckind, FUNC_DISPATCH);
    EXPECT_EQ(static_cast<int>(d->invkind), static_cast<int>(f.kind));
    EXPECT_EQ(d->elemdescFunc.tdesc.vt, f.result.vt);
    ASSERT_EQ(d->cParams, static_cast<SHORT>(f.paramCount));
    for (unsigned k = 0; k < f.paramCount; ++k) {
      EXPECT_EQ(d->lprgelemdescParam[k].tdesc.vt, f.params[k].type.vt);
      EXPECT_EQ(d->lprgelemdescParam[k].paramdesc.wParamFlags, PARAMFLAG_FIN);
    }
    info->ReleaseFuncDesc(d);

    // The first function of a DISPID names it (a property's get before its put).
    const Function* first = nullptr;
    for (UINT j = 0; j < in.count && !first; ++j)
      if (in.functions[j].dispid == f.dispid) first = &in.functions[j];
    std::vector<std::string> expected{first->name};
    if (first->kind == Kind::kMethod)
      for (unsigned k = 0; k < first->paramCount; ++k) expected.push_back(first->params[k].name);
    EXPECT_EQ(Names(info, f.dispid), expected);

    // Names map to the DISPID through the type description and the object alike, in any case.
    OleString lower = Ole(f.name);
    for (OLECHAR& ch : lower)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<OLECHAR>(ch - 'A' + 'a');
    LPOLESTR p = lower.data();
    MEMBERID viaInfo = 0;
    DISPID viaObject = 0;
    EXPECT_EQ(info->GetIDsOfNames(&p, 1, &viaInfo), S_OK);
    EXPECT_EQ(c.disp()->GetIDsOfNames(IID_NULL, &p, 1, 0, &viaObject), S_OK);
    EXPECT_EQ(viaInfo, f.dispid);
    EXPECT_EQ(viaObject, f.dispid);

    BSTR doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(f.dispid, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(doc ? Narrow(doc, SysStringLen(doc)) : "", first->doc ? first->doc : "");
    SysFreeString(doc);
  }
  FUNCDESC* d = reinterpret_cast<FUNCDESC*>(1);
  EXPECT_EQ(info->GetFuncDesc(static_cast<UINT>(in.count), &d), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(d, nullptr);

  // Unknown names, and parameter names (the members take no named arguments).
  for (const char* unknown : {"Nada", "Buffer"}) {
    OleString s = Ole(unknown);
    LPOLESTR p = s.data();
    MEMBERID id = 0;
    EXPECT_EQ(info->GetIDsOfNames(&p, 1, &id), DISP_E_UNKNOWNNAME) << unknown;
    EXPECT_EQ(id, MEMBERID_NIL);
  }
  OleString method = Ole("GetSelTextBuf"), param = Ole("Buffer");
  LPOLESTR two[] = {method.data(), param.data()};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(c.disp()->GetIDsOfNames(IID_NULL, two, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 25);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(Names(info, 45), std::vector<std::string>{"<failed>"});

  // Invoke through the type description reaches the object.
  Variant status;
  DISPPARAMS no_args{nullptr, nullptr, 0, 0};
  EXPECT_EQ(info->Invoke(c.disp(), 57, DISPATCH_PROPERTYGET, &no_args, &status.v, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(status.v.vt, VT_I4);
  EXPECT_EQ(info->Release(), 0u);
}

// A type description keeps the module loaded while a client holds it, even
// after the component itself is gone: its code lives there.
TEST(TypeInfo, HeldDescriptionKeepsTheModule) {
  ITypeInfo* info = nullptr;
  {
    Component c;
    ASSERT_EQ(c.disp()->GetTypeInfo(0, 0, &info), S_OK);
  }
  void* module = dlopen("libScanMonturaSim.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(module, nullptr);
  auto canUnload = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllCanUnloadNow"));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  ITypeInfo* again = nullptr;
  ASSERT_EQ(info->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, info);
  again->Release();
  EXPECT_EQ(info->Release(), 0u);
  EXPECT_EQ(canUnload(), S_OK);
  dlclose(module);
}

}  // namespace
