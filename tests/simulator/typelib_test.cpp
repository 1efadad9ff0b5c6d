// The component's type library, as compiled into the file that
// ScanMonturaSim.dll embeds, read back and compared with the component's own
// description of its interfaces (scanmontura_interface.h): every
// dispinterface with its DISPIDs, invocation kinds, names, types, parameter
// flags and help strings, the coclass, and IDispatch taken from stdole2 by
// its identifier. The file is read here with a reader of its format of its
// own, so that neither the IDL generator nor the IDL compiler is taken on trust.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "scanmontura_interface.h"

namespace {

// ---- a reader of the type library file format (MSFT) ----

enum TypeKind { kEnum = 0, kRecord, kModule, kInterface, kDispatch, kCoclass, kAlias, kUnion };
constexpr int kImpInfoOffsetIsGuid = 0x10000;
constexpr int kTypeFlagDual = 0x40;
constexpr int kTypeFlagDispatchable = 0x1000;
constexpr int kImplTypeDefault = 1;
constexpr int kImplTypeSource = 2;
constexpr int kFuncDispatch = 4;
constexpr int kParamIn = 1;
constexpr int kParamOut = 2;
// VARTYPEs of type descriptions only (the published values).
constexpr VARTYPE kVtPtr = 26;
constexpr VARTYPE kVtUserDefined = 29;

// A type as a function or parameter has it: a VARTYPE (VT_BYREF | X for a
// pointer to X), or a user-defined type of this library (by name) or of
// another (by GUID).
struct TypeRef {
  VARTYPE vt = VT_EMPTY;
  std::string name;  // kVtUserDefined of this library
  GUID imported{};   // kVtUserDefined of another library
  bool isImported = false;
};

struct Param {
  std::string name;  // empty where the file keeps none
  TypeRef type;
  int flags = 0;
};

struct Func {
  std::string name;
  int memid = 0;
  int funckind = 0;
  int invkind = 0;
  TypeRef result;
  std::vector<Param> params;
  std::string doc;
};

struct ImplType {
  int typeIndex;
  int flags;
};

struct TypeInfo {
  int kind = 0;
  std::string name;
  GUID guid{};
  int flags = 0;
  std::string doc;
  std::vector<Func> funcs;
  std::vector<ImplType> impls;  // coclass
  TypeRef aliased;              // alias
};

struct Import {
  GUID type{};
  bool byGuid = false;
  GUID library{};
  int major = 0, minor = 0;
};

class TypeLibFile {
 public:
  explicit TypeLibFile(std::vector<unsigned char> bytes) : d_(std::move(bytes)) {
    if (i32(0) != 0x5446534D) throw std::runtime_error("not an MSFT type library");
    const int posguid = i32(0x08);
    version_ = i32(0x18);
    lcid_ = i32(0x0C);
    lcid2_ = i32(0x10);
    const int varflags = i32(0x14);
    const int count = i32(0x20);
    nameOffset_ = i32(0x38);
    dispatchRef_ = i32(0x4C);
    size_t at = 0x54 + ((varflags & 0x100) ? 4 : 0) + 4 * static_cast<size_t>(count);
    for (Segment& s : seg_) {
      s.offset = i32(at);
      s.length = i32(at + 4);
      at += 16;
    }
    libid_ = guid(posguid);
    name_ = name(nameOffset_);
    for (int i = 0; i < count; ++i) types_.push_back(type_info(i));
  }

  const std::string& name() const { return name_; }
  const GUID& libid() const { return libid_; }
  int major() const { return version_ & 0xFFFF; }
  int minor() const { return (version_ >> 16) & 0xFFFF; }
  // The locale of the library, as both places of the file hold it.
  int lcid() const { return lcid_; }
  int lcid2() const { return lcid2_; }
  const std::vector<TypeInfo>& types() const { return types_; }
  Import dispatch_import() const { return import_of(dispatchRef_); }

  const TypeInfo* find(const GUID& g) const {
    for (const TypeInfo& t : types_)
      if (IsEqualGUID(t.guid, g)) return &t;
    return nullptr;
  }

 private:
  struct Segment {
    int offset = -1;
    int length = 0;
  };
  enum Seg {
    kTypeInfoTab,
    kImpInfo,
    kImpFiles,
    kRefTab,
    kGuidHash,
    kGuidTab,
    kNameHash,
    kNameTab,
    kStringTab,
    kTypdescTab,
    kSegments = 15
  };

  void need(size_t at, size_t n) const {
    if (at > d_.size() || n > d_.size() - at) throw std::runtime_error("read past the file's end");
  }
  int32_t i32(size_t at) const {
    need(at, 4);
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | d_[at + static_cast<size_t>(k)];
    return static_cast<int32_t>(v);
  }
  int16_t i16(size_t at) const {
    need(at, 2);
    return static_cast<int16_t>(d_[at] | d_[at + 1] << 8);
  }
  size_t in(Seg s, int offset) const {
    if (offset < 0 || offset >= seg_[s].length)
      throw std::runtime_error("offset out of its segment");
    return static_cast<size_t>(seg_[s].offset) + static_cast<size_t>(offset);
  }
  std::string name(int offset) const {
    const size_t at = in(kNameTab, offset);
    const size_t length = static_cast<size_t>(i32(at + 8) & 0xFF);
    need(at + 12, length);
    return std::string(reinterpret_cast<const char*>(&d_[at + 12]), length);
  }
  std::string string(int offset) const {
    if (offset < 0) return std::string();
    const size_t at = in(kStringTab, offset);
    const size_t length = static_cast<size_t>(i16(at));
    need(at + 2, length);
    return std::string(reinterpret_cast<const char*>(&d_[at + 2]), length);
  }
  GUID guid(int offset) const {
    const size_t at = in(kGuidTab, offset);
    need(at, 16);
    GUID g;
    g.Data1 = static_cast<uint32_t>(i32(at));
    g.Data2 = static_cast<uint16_t>(i16(at + 4));
    g.Data3 = static_cast<uint16_t>(i16(at + 6));
    std::memcpy(g.Data4, &d_[at + 8], 8);
    return g;
  }

  // A type reference (hreftype) to another library.
  Import import_of(int href) const {
    if (!(href & 1)) throw std::runtime_error("not a reference to another library");
    const size_t at = in(kImpInfo, href & ~3);
    Import imp;
    const int flags = i32(at);
    imp.byGuid = (flags & kImpInfoOffsetIsGuid) != 0;
    if (imp.byGuid) imp.type = guid(i32(at + 8));
    const size_t file = in(kImpFiles, i32(at + 4));
    imp.library = guid(i32(file));
    imp.major = i32(file + 8) & 0xFFFF;
    imp.minor = (i32(file + 8) >> 16) & 0xFFFF;
    return imp;
  }

  TypeRef type_ref(int datatype) const {
    TypeRef t;
    if (datatype < 0) {
      t.vt = static_cast<VARTYPE>(datatype & 0xFFF);
      return t;
    }
    const size_t at = in(kTypdescTab, datatype);
    const VARTYPE vt = static_cast<VARTYPE>(i16(at) & 0xFFF);
    const int ref = i32(at + 4);
    if (vt == kVtPtr) {
      if (ref < 0) {
        t.vt = static_cast<VARTYPE>(VT_BYREF | (ref & 0xFFF));
        return t;
      }
      const TypeRef to = type_ref(ref);
      t = to;
      t.vt = static_cast<VARTYPE>(VT_BYREF | to.vt);
      return t;
    }
    t.vt = vt;
    if (vt == kVtUserDefined) {
      if (ref & 1) {
        const Import imp = import_of(ref);
        t.isImported = true;
        t.imported = imp.type;
      } else {
        t.name = name(i32(in(kTypeInfoTab, ref) + 0x34));
      }
    }
    return t;
  }

  TypeInfo type_info(int index) const {
    const size_t at = in(kTypeInfoTab, index * 0x64);
    TypeInfo t;
    t.kind = i32(at) & 0xF;
    const int memoffset = i32(at + 0x04);
    const int funcs = i32(at + 0x18) & 0xFFFF;
    const int posguid = i32(at + 0x2C);
    t.flags = i32(at + 0x30);
    t.name = name(i32(at + 0x34));
    t.doc = string(i32(at + 0x3C));
    const int impls = i16(at + 0x4C);
    const int datatype1 = i32(at + 0x54);
    if (posguid >= 0) t.guid = guid(posguid);
    if (t.kind == kAlias) t.aliased = type_ref(datatype1);
    if (t.kind == kCoclass) {
      for (int ref = datatype1, k = 0; ref >= 0 && k < impls; ++k) {
        const size_t r = in(kRefTab, ref);
        t.impls.push_back(ImplType{i32(r) / 0x64, i32(r + 4)});
        ref = i32(r + 12);
      }
    }
    if (funcs == 0) return t;
    // The function records, then the member IDs, the names and the records' offsets.
    const size_t records = static_cast<size_t>(memoffset) + 4;
    const size_t ids = records + static_cast<size_t>(i32(static_cast<size_t>(memoffset)));
    size_t rec = records;
    for (int k = 0; k < funcs; ++k) {
      Func f;
      const size_t size = static_cast<size_t>(i32(rec) & 0xFFFF);
      const int fkccic = i32(rec + 0x10);
      const int args = i16(rec + 0x14);
      f.result = type_ref(i32(rec + 4));
      f.funckind = fkccic & 7;
      f.invkind = (fkccic >> 3) & 0xF;
      const size_t optional = (size - 0x18 - 12 * static_cast<size_t>(args)) / 4;
      if (optional >= 2) f.doc = string(i32(rec + 0x18 + 4));
      for (int p = 0; p < args; ++p) {
        const size_t pa = rec + size - 12 * static_cast<size_t>(args - p);
        Param param;
        param.type = type_ref(i32(pa));
        const int n = i32(pa + 4);
        if (n >= 0) param.name = name(n);
        param.flags = i32(pa + 8);
        f.params.push_back(param);
      }
      f.memid = i32(ids + 4 * static_cast<size_t>(k));
      f.name = name(i32(ids + 4 * static_cast<size_t>(funcs + k)));
      t.funcs.push_back(f);
      rec += size;
    }
    return t;
  }

  std::vector<unsigned char> d_;
  Segment seg_[kSegments];
  int version_ = 0;
  int lcid_ = 0;
  int lcid2_ = 0;
  int nameOffset_ = 0;
  int dispatchRef_ = -1;
  GUID libid_{};
  std::string name_;
  std::vector<TypeInfo> types_;
};

TypeLibFile load() {
  std::ifstream file(JTZ_SIM_TLB, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " JTZ_SIM_TLB);
  return TypeLibFile(std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {}));
}

// ---- the comparison ----

const GUID kStdole = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The IDL names of the Automation types the description uses as they are.
const std::set<std::string> kBaseTypes = {"void",   "VARIANT_BOOL", "unsigned char", "short",
                                          "long",   "int",          "float",         "BSTR",
                                          "short*", "IDispatch*"};

// What differs between a type of the file and one of the description ("" for nothing).
std::string differs(const TypeRef& got, const scanmontura::Type& want, const TypeLibFile& lib) {
  if (got.vt == kVtUserDefined && !got.isImported) {
    for (const TypeInfo& t : lib.types()) {
      if (t.name != got.name) continue;
      if (t.kind != kAlias) return got.name + " is no alias";
      if (got.name != want.idl || t.aliased.vt != want.vt)
        return "alias " + got.name + " of VARTYPE " + std::to_string(t.aliased.vt) +
               ", described " + want.idl + " of " + std::to_string(want.vt);
      return "";
    }
    return "no type named " + got.name;
  }
  if (got.vt != want.vt) return "VARTYPE " + std::to_string(got.vt) + " for " + want.idl;
  if (!kBaseTypes.count(want.idl)) return std::string(want.idl) + " is described as a named type";
  return "";
}

TEST(TypeLibrary, IsTheDescribedLibraryAndTakesIDispatchFromStdole2ByItsIdentifier) {
  const TypeLibFile lib = load();
  EXPECT_EQ(lib.name(), scanmontura::kLibrary.name);
  EXPECT_TRUE(IsEqualGUID(lib.libid(), scanmontura::kLibrary.libid));
  EXPECT_EQ(lib.major(), scanmontura::kLibrary.major);
  EXPECT_EQ(lib.minor(), scanmontura::kLibrary.minor);
  // Registered under the locale the type library marshaler asks for.
  EXPECT_EQ(lib.lcid(), static_cast<int>(scanmontura::kLibrary.lcid));
  EXPECT_EQ(lib.lcid2(), static_cast<int>(scanmontura::kLibrary.lcid));
  // Resolved at run time by the system's stdole2.tlb: by GUID, not by its
  // position in the library it was compiled against.
  const Import dispatch = lib.dispatch_import();
  EXPECT_TRUE(dispatch.byGuid);
  EXPECT_TRUE(IsEqualGUID(dispatch.type, kIDispatch));
  EXPECT_TRUE(IsEqualGUID(dispatch.library, kStdole));
  EXPECT_EQ(dispatch.major, 2);
  EXPECT_EQ(dispatch.minor, 0);
}

TEST(TypeLibrary, EveryInterfaceIsADispinterfaceWithTheDescribedFunctions) {
  const TypeLibFile lib = load();
  for (const scanmontura::Interface* in : scanmontura::kLibrary.interfaces) {
    SCOPED_TRACE(in->name);
    const TypeInfo* t = lib.find(in->iid);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->kind, kDispatch);
    EXPECT_EQ(t->name, in->name);
    EXPECT_EQ(t->doc, in->doc ? in->doc : "");
    EXPECT_TRUE(t->flags & kTypeFlagDispatchable);
    EXPECT_FALSE(t->flags & kTypeFlagDual) << "the component answers through IDispatch only";
    ASSERT_EQ(t->funcs.size(), in->count);
    for (size_t i = 0; i < in->count; ++i) {
      const scanmontura::Function& want = in->functions[i];
      const Func& got = t->funcs[i];
      SCOPED_TRACE(std::string(want.name) + " #" + std::to_string(i));
      EXPECT_EQ(got.name, want.name);
      EXPECT_EQ(got.memid, want.dispid);
      EXPECT_EQ(got.funckind, kFuncDispatch);
      EXPECT_EQ(got.invkind, static_cast<int>(want.kind));
      EXPECT_EQ(got.doc, want.doc ? want.doc : "");
      EXPECT_EQ(differs(got.result, want.result, lib), "");
      ASSERT_EQ(got.params.size(), want.paramCount);
      for (unsigned k = 0; k < want.paramCount; ++k) {
        const scanmontura::Param& wp = want.params[k];
        EXPECT_EQ(differs(got.params[k].type, wp.type, lib), "") << wp.name;
        EXPECT_EQ(got.params[k].flags, (wp.type.vt & VT_BYREF) ? kParamIn | kParamOut : kParamIn)
            << wp.name;
        // A put's value is nameless in a type library.
        if (want.kind != scanmontura::Kind::kPut) {
          EXPECT_EQ(got.params[k].name, wp.name);
        }
      }
    }
  }
}

TEST(TypeLibrary, HoldsTheCoclassesAndNothingButTheInterfacesAndTheirNamedTypes) {
  const TypeLibFile lib = load();
  const scanmontura::Library& want = scanmontura::kLibrary;
  for (const scanmontura::Coclass* c : want.coclasses) {
    SCOPED_TRACE(c->name);
    const TypeInfo* coclass = lib.find(c->clsid);
    ASSERT_NE(coclass, nullptr);
    EXPECT_EQ(coclass->kind, kCoclass);
    EXPECT_EQ(coclass->name, c->name);
    EXPECT_EQ(coclass->doc, c->doc);
    ASSERT_EQ(coclass->impls.size(), c->defaultSource ? 2u : 1u);
    const auto impl_guid = [&](const ImplType& i) { return lib.types().at(i.typeIndex).guid; };
    EXPECT_TRUE(IsEqualGUID(impl_guid(coclass->impls[0]), c->defaultInterface->iid));
    EXPECT_EQ(coclass->impls[0].flags, kImplTypeDefault);
    if (c->defaultSource) {
      EXPECT_TRUE(IsEqualGUID(impl_guid(coclass->impls[1]), c->defaultSource->iid));
      EXPECT_EQ(coclass->impls[1].flags, kImplTypeDefault | kImplTypeSource);
    }
  }

  // Everything else: the interfaces, and one alias per named type they use
  // (IUnknown and IDispatch are not copied in).
  std::set<std::string> named;
  for (const scanmontura::Interface* in : want.interfaces)
    for (size_t i = 0; i < in->count; ++i) {
      const scanmontura::Function& f = in->functions[i];
      if (!kBaseTypes.count(f.result.idl)) named.insert(f.result.idl);
      for (unsigned k = 0; k < f.paramCount; ++k)
        if (!kBaseTypes.count(f.params[k].type.idl)) named.insert(f.params[k].type.idl);
    }
  std::set<std::string> aliases;
  for (const TypeInfo& t : lib.types())
    if (t.kind == kAlias) aliases.insert(t.name);
  EXPECT_EQ(aliases, named);
  EXPECT_EQ(lib.types().size(),
            std::size(want.interfaces) + std::size(want.coclasses) + named.size());
}

}  // namespace
