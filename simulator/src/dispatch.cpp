// IDispatch of the simulated component: argument checking as an Automation
// server does it, then the behaviour of each member.
#include "component.h"

#include "type_info.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

constexpr DISPID kOnChange =
    scanmontura::Find(scanmontura::kIScanMonturaEvents, "OnChange")->dispid;

HRESULT PutBool(VARIANT* v, bool b) {
  v->vt = VT_BOOL;
  v->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT PutUI1(VARIANT* v, BYTE b) {
  v->vt = VT_UI1;
  v->bVal = b;
  return S_OK;
}
HRESULT PutI2(VARIANT* v, SHORT s) {
  v->vt = VT_I2;
  v->iVal = s;
  return S_OK;
}
HRESULT PutI4(VARIANT* v, LONG l) {
  v->vt = VT_I4;
  v->lVal = l;
  return S_OK;
}
HRESULT PutR4(VARIANT* v, float f) {
  v->vt = VT_R4;
  v->fltVal = f;
  return S_OK;
}
HRESULT PutBstr(VARIANT* v, const OleString& s) {
  BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (!b) return E_OUTOFMEMORY;
  v->vt = VT_BSTR;
  v->bstrVal = b;
  return S_OK;
}

// A by-reference argument as the value it points at (one level), or false.
bool Dereference(const VARIANT& in, VARIANT* out) {
  *out = in;
  if (!(in.vt & VT_BYREF)) return true;
  if (!in.byref) return false;
  VARTYPE base = static_cast<VARTYPE>(in.vt & ~VT_BYREF);
  out->vt = base;
  switch (base) {
    case VT_BOOL: out->boolVal = *in.pboolVal; return true;
    case VT_UI1: out->bVal = *in.pbVal; return true;
    case VT_I2: out->iVal = *in.piVal; return true;
    case VT_I4: out->lVal = *in.plVal; return true;
    case VT_INT: out->intVal = *in.pintVal; return true;
    case VT_R4: out->fltVal = *in.pfltVal; return true;
    case VT_R8: out->dblVal = *in.pdblVal; return true;
    case VT_BSTR: out->bstrVal = *in.pbstrVal; return true;
    case VT_VARIANT: *out = *in.pvarVal; return !(out->vt & VT_BYREF);
    default: return false;
  }
}

// Reads an argument as type `want`, coercing it as Automation servers do.
HRESULT ReadArg(const VARIANT& in, VARTYPE want, LONG* n, OleString* s) {
  VARIANT src;
  if (!Dereference(in, &src)) return DISP_E_TYPEMISMATCH;
  UniqueVariant converted;
  const VARIANT* v = &src;
  if (src.vt != want) {
    if (FAILED(VariantChangeType(converted.put(), &src, 0, want))) return DISP_E_TYPEMISMATCH;
    v = converted.get();
  }
  switch (want) {
    case VT_BOOL: *n = v->boolVal != 0; return S_OK;
    case VT_UI1: *n = v->bVal; return S_OK;
    case VT_I2: *n = v->iVal; return S_OK;
    case VT_I4: *n = v->lVal; return S_OK;
    case VT_INT: *n = v->intVal; return S_OK;
    case VT_BSTR: *s = FromBstr(v->bstrVal); return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

void FillExcepInfo(EXCEPINFO* ei, HRESULT scode, const OleString* description) {
  if (!ei) return;
  std::memset(ei, 0, sizeof *ei);
  ei->wCode = 0;
  ei->scode = scode;
  ei->bstrSource = SysAllocString(SIM_TEXT("ScanMontura"));
  if (description)
    ei->bstrDescription =
        SysAllocStringLen(description->data(), static_cast<UINT>(description->size()));
}

// E_INVALIDARG with a description naming the property and its range.
HRESULT OutOfRange(const char* what, LONG value, int low, int high, std::string* why) {
  *why = std::string(what) + ": " + std::to_string(value) + " is out of range (" +
         std::to_string(low) + " to " + std::to_string(high) + ")";
  return E_INVALIDARG;
}

}  // namespace

// One type description: IScanMontura's, from the component's own description.
HRESULT ScanMontura::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 1;
  return S_OK;
}

HRESULT ScanMontura::GetTypeInfo(UINT index, LCID, ITypeInfo** ppTInfo) {
  if (!ppTInfo) return E_POINTER;
  *ppTInfo = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return CreateScanMonturaTypeInfo(ppTInfo);
}

HRESULT ScanMontura::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return IdsOfNames(scanmontura::kIScanMontura, names, cNames, ids);
}

void ScanMontura::RecordCall(DISPID dispid, WORD flags, const DISPPARAMS* params,
                             const VARIANT* result) {
  callThread_ = ThreadNumber();
  Lock lock(mu_);
  ULONG calls = last_.calls + 1;
  std::memset(&last_, 0, sizeof last_);
  last_.dispid = dispid;
  last_.flags = flags;
  last_.calls = calls;
  last_.resultGiven = result != nullptr;
  last_.resultVtOnEntry = result ? result->vt : static_cast<VARTYPE>(VT_EMPTY);
  if (!params) return;
  last_.cArgs = params->cArgs;
  last_.cNamedArgs = params->cNamedArgs;
  if (params->rgdispidNamedArgs)
    for (UINT k = 0; k < std::min<UINT>(params->cNamedArgs, 4); ++k)
      last_.named[k] = params->rgdispidNamedArgs[k];
  if (params->rgvarg)
    for (UINT k = 0; k < std::min<UINT>(params->cArgs, 4); ++k)
      std::memcpy(&last_.args[k], &params->rgvarg[k], sizeof(VARIANT));
}

HRESULT ScanMontura::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excep, UINT* argErr) try {
  RecordCall(dispid, flags, params, result);
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const MemberInfo* m = FindMember(dispid);
  if (!m) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;

  // Which shape the caller asked for, and whether the member has it.
  Shape shape;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    if (!(flags & DISPATCH_PROPERTYPUT) || (flags & DISPATCH_PROPERTYGET) || !m->canPut)
      return DISP_E_MEMBERNOTFOUND;
    shape = Shape::kPut;
  } else if ((flags & DISPATCH_METHOD) && m->isMethod) {
    shape = Shape::kMethod;
  } else if ((flags & DISPATCH_PROPERTYGET) && m->canGet) {
    shape = Shape::kGet;
  } else {
    return DISP_E_MEMBERNOTFOUND;
  }

  UINT expected = 0;
  switch (shape) {
    case Shape::kGet:
      if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
      if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
      break;
    case Shape::kPut:
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
          params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return DISP_E_PARAMNOTFOUND;
      expected = 1;
      break;
    case Shape::kMethod:
      if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
      if (params->cArgs != m->argCount) return DISP_E_BADPARAMCOUNT;
      expected = m->argCount;
      break;
  }
  if (expected > 0 && !params->rgvarg) return E_INVALIDARG;

  // Arguments in declaration order; rgvarg holds them last-first.
  Arg args[2];
  for (UINT k = 0; k < expected; ++k) {
    UINT slot = expected - 1 - k;
    VARTYPE want = shape == Shape::kPut ? m->value : m->args[k];
    if (FAILED(ReadArg(params->rgvarg[slot], want, &args[k].n, &args[k].s))) {
      if (argErr) *argErr = slot;
      return DISP_E_TYPEMISMATCH;
    }
  }

  {
    Lock lock(mu_);
    auto f = failures_.find(dispid);
    if (f != failures_.end()) {
      HRESULT hr = f->second.hr;
      if (FAILED(hr))
        FillExcepInfo(excep, hr == DISP_E_EXCEPTION ? E_FAIL : hr,
                      f->second.hasDescription ? &f->second.description : nullptr);
      return hr;
    }
  }

  UniqueVariant value;
  Failure why;
  bool changed = false;  // an OnChange this call fires itself, once it has let the lock go
  HRESULT hr = Execute(*m, shape, args, value.get(), &why, &changed);
  if (FAILED(hr)) {
    if (!why.description.empty()) {
      OleString text = ToOleString(why.description.c_str());
      FillExcepInfo(excep, why.hr != S_OK ? why.hr : hr, &text);
    }
    return hr;
  }

  HRESULT copied = S_OK;
  {
    Lock lock(mu_);
    auto o = overrides_.find(dispid);
    if (o != overrides_.end()) {
      copied = VariantCopy(value.put(), o->second.value.get());
      if (SUCCEEDED(copied)) hr = o->second.hr;
    }
  }
  if (changed) FireOfCall(kOnChange);  // last: nothing of the object is used after it
  if (FAILED(copied)) return copied;
  if (result) {
    VariantInit(result);
    value.release(result);
  }
  return hr;
} catch (...) {
  return HresultOfCurrentException();
}

HRESULT ScanMontura::EditOutcome(EditResult r, Failure* why, bool* changed) {
  if (r == EditResult::kReadOnly) {
    why->description = "The control is read-only";
    return E_ACCESSDENIED;
  }
  if (r == EditResult::kChanged) ChangedLocked(changed);
  return S_OK;
}

HRESULT ScanMontura::Execute(const MemberInfo& m, Shape shape, const Arg* a, VARIANT* out,
                             Failure* why, bool* changed) {
  Lock lock(mu_);
  const bool get = shape == Shape::kGet;
  auto boolProp = [&](bool& field) {
    if (get) return PutBool(out, field);
    field = a[0].n != 0;
    return S_OK;
  };
  auto shortProp = [&](SHORT& field) {
    if (get) return PutI2(out, field);
    field = static_cast<SHORT>(a[0].n);
    return S_OK;
  };
  auto enumProp = [&](int& field, int high, const char* what) {
    if (get) return PutI4(out, field);
    if (a[0].n < 0 || a[0].n > high) return OutOfRange(what, a[0].n, 0, high, &why->description);
    field = a[0].n;
    return S_OK;
  };

  switch (m.dispid) {
    case 1: return boolProp(props_.autoSelect);
    case 2: return boolProp(props_.autoSize);
    case 3: return enumProp(props_.borderStyle, 5, "BorderStyle (TxFormBorderStyle)");
    case 4: {  // CharCase
      if (get) return PutI4(out, edit_.charCase());
      if (a[0].n < 0 || a[0].n > 2)
        return OutOfRange("CharCase (TxEditCharCase)", a[0].n, 0, 2, &why->description);
      if (edit_.SetCharCase(a[0].n)) ChangedLocked(changed);
      return S_OK;
    }
    case DISPID_BACKCOLOR:
      if (get) return PutI4(out, static_cast<LONG>(props_.color));
      props_.color = static_cast<OLE_COLOR>(a[0].n);
      return S_OK;
    case 5: return boolProp(props_.ctl3D);
    case 6: return shortProp(props_.dragCursor);
    case 7: return enumProp(props_.dragMode, 1, "DragMode (TxDragMode)");
    case DISPID_ENABLED: return boolProp(props_.enabled);
    case 8: return boolProp(props_.hideSelection);
    case 9: return enumProp(props_.imeMode, 11, "ImeMode (TxImeMode)");
    case 10:  // ImeName
      if (get) return PutBstr(out, props_.imeName);
      props_.imeName = a[0].s;
      return S_OK;
    case 11:  // MaxLength
      if (get) return PutI4(out, edit_.maxLength());
      if (a[0].n < 0) return OutOfRange("MaxLength", a[0].n, 0, 0x7FFFFFFF, &why->description);
      edit_.setMaxLength(a[0].n);
      return S_OK;
    case 12: return boolProp(props_.oemConvert);
    case 13: return boolProp(props_.parentColor);
    case 14: return boolProp(props_.parentCtl3D);
    case 15:  // PasswordChar
      if (get) return PutUI1(out, props_.passwordChar);
      props_.passwordChar = static_cast<BYTE>(a[0].n);
      return S_OK;
    case 16: {  // ReadOnly
      if (get) return PutBool(out, edit_.readOnly());
      edit_.setReadOnly(a[0].n != 0);
      return S_OK;
    }
    case DISPID_TEXT:
      if (get) return PutBstr(out, edit_.text());
      return EditOutcome(edit_.SetText(a[0].s), why, changed);
    case 17: return boolProp(props_.visible);
    case 18: return EditOutcome(edit_.Clear(), why, changed);
    case 19: return EditOutcome(edit_.ClearSelection(), why, changed);
    case 20: edit_.Copy(); return S_OK;
    case 21: return EditOutcome(edit_.Cut(), why, changed);
    case 22: return EditOutcome(edit_.Paste(), why, changed);
    case 23: return EditOutcome(edit_.Undo(), why, changed);
    case 24: edit_.ClearUndo(); return S_OK;
    case 25:  // GetSelTextBuf(byte b, int n)
      if (a[1].n < 0)
        return OutOfRange("GetSelTextBuf count", a[1].n, 0, 0x7FFFFFFF, &why->description);
      return PutI4(out, edit_.CountInSelection(static_cast<OLECHAR>(a[0].n), a[1].n));
    case 26: edit_.SelectAll(); return S_OK;
    case 27: {  // SetSelTextBuf(byte b): the selection becomes b (nothing for 0)
      OleString s;
      if (a[0].n != 0) s.push_back(static_cast<OLECHAR>(a[0].n));
      return EditOutcome(edit_.ReplaceSelection(s), why, changed);
    }
    case 28: return PutBool(out, edit_.canUndo());
    case 29:  // Modified
      if (get) return PutBool(out, edit_.modified());
      edit_.setModified(a[0].n != 0);
      return S_OK;
    case 30:  // SelLength
      if (get) return PutI4(out, edit_.selLength());
      edit_.SetSelLength(a[0].n);
      return S_OK;
    case 31:  // SelStart
      if (get) return PutI4(out, edit_.selStart());
      edit_.SetSelStart(a[0].n);
      return S_OK;
    case 32:  // SelText
      if (get) return PutBstr(out, edit_.selText());
      return EditOutcome(edit_.ReplaceSelection(a[0].s), why, changed);
    case 33: return boolProp(props_.doubleBuffered);
    case 35: return PutI4(out, 0);  // DrawTextBiDiModeFlagsReadingOnly: left to right
    case 36: return S_OK;           // InitiateAction
    case 37:                        // IsRightToLeft
    case 40:                        // UseRightToLeftReading
    case 41:                        // UseRightToLeftScrollBar
      return PutBool(out, false);
    case 42: return shortProp(props_.cursor);
    default: return ExecuteTracer(m, shape, a, out, why, changed);
  }
}

// Called with mu_ held.
HRESULT ScanMontura::ExecuteTracer(const MemberInfo& m, Shape, const Arg* a, VARIANT* out,
                                   Failure* why, bool* changed) {
  const Trace& t = tracer_.trace;
  const bool has = tracer_.hasTrace;
  switch (m.dispid) {
    case 34:  // PuertoComm
      if (a[0].n < 0 || a[0].n > 16)
        return OutOfRange("PuertoComm", a[0].n, 0, 16, &why->description);
      if (scanning_) {
        why->hr = E_FAIL;
        why->description = "PuertoComm: a scan is in progress";
        return DISP_E_EXCEPTION;
      }
      if (a[0].n == 0) {
        CierraLocked(changed);
      } else {
        tracer_.port = a[0].n;
        tracer_.status = has ? 200 : 1;
      }
      return S_OK;
    case 38: CierraLocked(changed); return S_OK;
    case 39:
      if (a[0].n < 1 || a[0].n > 10)
        return OutOfRange("Velocidad", a[0].n, 1, 10, &why->description);
      tracer_.speed = a[0].n;
      return S_OK;
    case 43: return PutI2(out, tracer_.port != 0 ? 1 : 0);
    case 44: return PutBstr(out, has ? t.taladros : OleString());
    case 46:
      if (a[0].n < 1 || a[0].n > 2) return OutOfRange("ModoScan", a[0].n, 1, 2, &why->description);
      tracer_.mode = a[0].n;
      return S_OK;
    case 47: return Explora(why);
    case 48:
      if (a[0].n < 1 || a[0].n > 2) return OutOfRange("Ojo", a[0].n, 1, 2, &why->description);
      tracer_.eye = a[0].n;
      return S_OK;
    case 49: return PutR4(out, has ? t.radioIni : 0.0f);
    case 50: return PutBstr(out, has ? t.deltas : OleString());
    case 51: return PutR4(out, has ? t.boxH : 0.0f);
    case 52: return PutR4(out, has ? t.boxV : 0.0f);
    case 53: return PutR4(out, has ? t.distCentro : 0.0f);
    case 54: return PutR4(out, has ? t.distBorde : 0.0f);
    case 55: return PutR4(out, has ? t.base : 0.0f);
    case 56: return PutR4(out, has ? t.perimetro : 0.0f);
    case 57: return PutI4(out, tracer_.status);
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace sim
