#include "control.h"

#include "com_util.h"
#include "component.h"
#include "module.h"
#include "scanmontura_interface.h"
#include "sync.h"
#include "type_info.h"

namespace sim {
namespace {

using scanmontura::Function;
using scanmontura::Kind;

const scanmontura::Interface& kControl = scanmontura::kISimControlDispatch;

constexpr DISPID Id(const char* name) {
  return scanmontura::Find(scanmontura::kISimControlDispatch, name)->dispid;
}

// An argument as the type the description gives it (coerced as Automation
// servers do); a component comes as an IDispatch.
struct Value {
  UniqueVariant v;
  HRESULT Read(const VARIANT& in, VARTYPE want) {
    const VARIANT* src = &in;
    if (in.vt == (VT_BYREF | VT_VARIANT) && in.pvarVal) src = in.pvarVal;
#if defined(_WIN32)
    return VariantChangeType(v.put(), const_cast<VARIANT*>(src), 0, want);
#else
    return VariantChangeType(v.put(), src, 0, want);
#endif
  }
};

class SimControl final : public OneInterfaceObject<IDispatch> {
 public:
  SimControl() { ModuleObjectCreated(); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;  // described by the type library only
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID,
                                          DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return IdsOfNames(kControl, names, cNames, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* argErr) override;

 private:
  bool Answers(REFIID riid) const override {
    return IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kControl.iid);
  }
  ~SimControl() override {
    if (component_) component_->Release();
    ModuleObjectDestroyed();
  }

  // Attaches c (taking over the caller's reference); the one attached before goes.
  void Attach(ScanMontura* c) {
    ScanMontura* before;
    {
      Lock lock(mu_);
      before = component_;
      component_ = c;
    }
    if (before) before->Release();
  }
  // The component attached, with a reference of the caller's own; null before Attach.
  ScanMontura* Attached() {
    Lock lock(mu_);
    if (component_) component_->AddRef();
    return component_;
  }

  // The component attached, held. Calls may come from several threads at once
  // (a control in the multithreaded apartment): each works on a reference of
  // its own, so that an Attach or Create meanwhile cannot take it away.
  Mutex mu_;
  ScanMontura* component_ = nullptr;
};

// The shapes and argument types of the description; each operation is the
// attached component's ISimControl operation of the same name.
HRESULT SimControl::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO*, UINT* argErr) try {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const Function* f = nullptr;
  for (std::size_t i = 0; i < kControl.count && !f; ++i) {
    const Function& c = kControl.functions[i];
    const bool shape = (c.kind == Kind::kMethod && (flags & DISPATCH_METHOD)) ||
                       (c.kind == Kind::kGet && (flags & DISPATCH_PROPERTYGET));
    if (c.dispid == dispid && shape && !(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
      f = &c;
  }
  if (!f) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (params->cArgs != f->paramCount) return DISP_E_BADPARAMCOUNT;
  Value arg;
  if (f->paramCount == 1) {
    if (!params->rgvarg) return E_INVALIDARG;
    if (FAILED(arg.Read(params->rgvarg[0], f->params[0].type.vt))) {
      if (argErr) *argErr = 0;
      return DISP_E_TYPEMISMATCH;
    }
  }

  if (dispid == Id("Attach")) {
    // A component of this module, in this apartment: a proxy answers no such query.
    void* self = nullptr;
    IDispatch* given = arg.v->pdispVal;
    if (!given || FAILED(given->QueryInterface(kIidSimSelf, &self)) || !self) return E_INVALIDARG;
    Attach(static_cast<ScanMontura*>(self));
    return S_OK;
  }
  if (dispid == Id("Create")) {
    IDispatch* made = nullptr;
    HRESULT hr = ScanMontura::Create(IID_IDispatch, reinterpret_cast<void**>(&made));
    void* self = nullptr;
    if (SUCCEEDED(hr)) hr = made->QueryInterface(kIidSimSelf, &self);
    if (FAILED(hr)) {
      if (made) made->Release();
      return hr;
    }
    Attach(static_cast<ScanMontura*>(self));
    if (result) {
      VariantInit(result);
      result->vt = VT_DISPATCH;
      result->pdispVal = made;  // the reference Create gave
    } else {
      made->Release();
    }
    return S_OK;
  }
  ScanMontura* const attached = Attached();
  if (!attached) return E_UNEXPECTED;  // attach first
  struct Held {
    ScanMontura* c;
    ~Held() { c->Release(); }
  } const held{attached};
  ScanMontura& c = *attached;
  LONG value = 0;
  HRESULT hr = S_OK;
  if (dispid == Id("TypeText")) {
    const OleString text = FromBstr(arg.v->bstrVal);
    hr = c.TypeText(text.c_str());
  } else if (dispid == Id("Click")) {
    hr = c.Click();
  } else if (dispid == Id("DblClick")) {
    hr = c.DblClick();
  } else if (dispid == Id("WaitIdle")) {
    hr = c.WaitIdle(static_cast<DWORD>(arg.v->lVal));
  } else if (dispid == Id("ConnectionCount")) {
    ULONG count = 0;
    hr = c.ConnectionCount(&count);
    value = static_cast<LONG>(count);
  } else if (dispid == Id("Apartment")) {
    value = c.InSingleThreadedApartment() ? 1 : 2;
  } else if (dispid == Id("HomeThread")) {
    value = static_cast<LONG>(c.HomeThread());
  } else if (dispid == Id("CallThread")) {
    value = static_cast<LONG>(c.CallThread());
  } else if (dispid == Id("EventThread")) {
    value = static_cast<LONG>(c.FiringThread());
  } else {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (SUCCEEDED(hr) && result && f->kind == Kind::kGet) {
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = value;
  }
  return hr;
} catch (...) {
  return HresultOfCurrentException();
}

}  // namespace

HRESULT CreateSimControl(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  SimControl* control = new (std::nothrow) SimControl();
  if (!control) return E_OUTOFMEMORY;
  const HRESULT hr = control->QueryInterface(riid, ppv);
  control->Release();
  return hr;
}

}  // namespace sim
