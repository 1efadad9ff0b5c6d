#include "type_info.h"

#include <cstring>
#include <new>
#include <vector>

#include "com_util.h"
#include "members.h"
#include "module.h"

namespace sim {
namespace {

using scanmontura::Function;
using scanmontura::Interface;
using scanmontura::Kind;

// The read-only structures of one interface's description, made once.
class Described {
 public:
  explicit Described(const Interface& which) : which_(which) {
    attr_ = TYPEATTR{};
    attr_.guid = which.iid;
    attr_.memidConstructor = MEMBERID_NIL;
    attr_.memidDestructor = MEMBERID_NIL;
    attr_.typekind = TKIND_DISPATCH;
    attr_.cFuncs = static_cast<WORD>(which.count);
    attr_.cbSizeVft = static_cast<WORD>(7 * sizeof(void*));  // IDispatch's seven methods
    attr_.cbAlignment = static_cast<WORD>(sizeof(void*));
    attr_.wTypeFlags = TYPEFLAG_FDISPATCHABLE;
    attr_.wMajorVerNum = 1;
    attr_.tdescAlias.vt = VT_EMPTY;

    size_t params = 0;
    for (size_t i = 0; i < which.count; ++i) params += which.functions[i].paramCount;
    params_.resize(params);  // never resized again: the FUNCDESCs point into it
    funcs_.resize(which.count);
    size_t next = 0;
    for (size_t i = 0; i < which.count; ++i) {
      const Function& f = which.functions[i];
      FUNCDESC& d = funcs_[i];
      d = FUNCDESC{};
      d.memid = f.dispid;
      d.funckind = FUNC_DISPATCH;
      d.invkind = static_cast<INVOKEKIND>(f.kind);
      d.callconv = CC_STDCALL;
      d.cParams = static_cast<SHORT>(f.paramCount);
      d.elemdescFunc.tdesc.vt = f.result.vt;
      if (f.paramCount > 0) d.lprgelemdescParam = &params_[next];
      for (unsigned k = 0; k < f.paramCount; ++k, ++next) {
        ELEMDESC& e = params_[next];
        e = ELEMDESC{};
        e.tdesc.vt = f.params[k].type.vt;
        e.paramdesc.wParamFlags = PARAMFLAG_FIN;
      }
    }
  }

  const Interface& which() const { return which_; }
  TYPEATTR* attr() const { return const_cast<TYPEATTR*>(&attr_); }
  FUNCDESC* func(UINT i) const { return const_cast<FUNCDESC*>(&funcs_[i]); }

  // The first function of the DISPID (a property's get comes before its put).
  const Function* find(MEMBERID memid) const {
    for (size_t i = 0; i < which_.count; ++i)
      if (which_.functions[i].dispid == memid) return &which_.functions[i];
    return nullptr;
  }

 private:
  const Interface& which_;
  TYPEATTR attr_;
  std::vector<FUNCDESC> funcs_;
  std::vector<ELEMDESC> params_;
};

const Described& ScanMonturaDescribed() {
  static const Described described(scanmontura::kIScanMontura);
  return described;
}

// A BSTR of an ASCII text, or null for null.
BSTR AllocAscii(const char* text) {
  if (!text) return nullptr;
  const OleString s = ToOleString(text);
  return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

class TypeInfo final : public OneInterfaceObject<ITypeInfo> {
 public:
  explicit TypeInfo(const Described& d) : d_(d) { ModuleObjectCreated(); }

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override {
    if (!out) return E_INVALIDARG;
    *out = d_.attr();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= d_.which().count) return TYPE_E_ELEMENTNOTFOUND;
    *out = d_.func(index);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;  // a dispinterface of functions only
  }
  // The function's name, then its parameters' names (a put's value has none).
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    const Function* f = d_.find(memid);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    const UINT params = f->kind == Kind::kPut ? 0 : f->paramCount;
    for (UINT k = 0; k < max && k <= params; ++k) {
      names[k] = AllocAscii(k == 0 ? f->name : f->params[k - 1].name);
      if (!names[k]) {
        for (UINT j = 0; j < k; ++j) SysFreeString(names[j]);
        return E_OUTOFMEMORY;
      }
      *count = k + 1;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE* out) override {
    if (out) *out = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT* out) override {
    if (out) *out = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    return IdsOfNames(d_.which(), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
    if (!instance) return E_INVALIDARG;
    return static_cast<IDispatch*>(instance)->Invoke(memid, IID_NULL, LOCALE_USER_DEFAULT, flags,
                                                     params, result, excep, argErr);
  }
  // MEMBERID_NIL: the interface itself.
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc,
                                             DWORD* helpContext, BSTR* helpFile) override {
    const char* name_text = nullptr;
    const char* doc_text = nullptr;
    if (memid == MEMBERID_NIL) {
      name_text = d_.which().name;
    } else if (const Function* f = d_.find(memid)) {
      name_text = f->name;
      doc_text = f->doc;
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    if (helpContext) *helpContext = 0;
    if (helpFile) *helpFile = nullptr;
    if (doc) *doc = nullptr;
    if (name) {
      *name = AllocAscii(name_text);
      if (!*name) return E_OUTOFMEMORY;
    }
    if (doc && doc_text) {
      *doc = AllocAscii(doc_text);
      if (!*doc) {
        if (name) {
          SysFreeString(*name);
          *name = nullptr;
        }
        return E_OUTOFMEMORY;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name,
                                        WORD* ordinal) override {
    if (dll) *dll = nullptr;
    if (name) *name = nullptr;
    if (ordinal) *ordinal = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** out, UINT* index) override {
    if (out) *out = nullptr;
    if (index) *index = 0;
    return E_NOTIMPL;
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR*) override {}
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC*) override {}
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

 private:
  bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_ITypeInfo); }
  ~TypeInfo() override { ModuleObjectDestroyed(); }

  const Described& d_;
};

}  // namespace

HRESULT CreateScanMonturaTypeInfo(ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) TypeInfo(ScanMonturaDescribed());
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT IdsOfNames(const Interface& which, LPOLESTR* names, UINT count, DISPID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  const Function* found = nullptr;
  for (size_t i = 0; i < which.count && !found && names[0]; ++i)
    if (SameName(which.functions[i].name, names[0])) found = &which.functions[i];
  ids[0] = found ? found->dispid : DISPID_UNKNOWN;
  // No member takes named arguments: any further name is unknown.
  for (UINT k = 1; k < count; ++k) ids[k] = DISPID_UNKNOWN;
  return (found && count == 1) ? S_OK : DISP_E_UNKNOWNNAME;
}

}  // namespace sim
