// The type description the component hands out through IDispatch::GetTypeInfo:
// an ITypeInfo of IScanMontura (TKIND_DISPATCH) built from the component's own
// description of the interface (scanmontura_interface.h), so that what a
// client reads there is what Invoke answers.
//
//   ComPtr<ITypeInfo> info;
//   HRESULT hr = CreateScanMonturaTypeInfo(reinterpret_cast<ITypeInfo**>(info.put_void()));
//
// What it describes: the interface's GUID and name, one FUNCDESC per row of
// the description (FUNC_DISPATCH; the invocation kind; the VARTYPE of the
// result and of each [in] parameter), names, help strings, and the names to
// DISPIDs mapping that IDispatch::GetIDsOfNames also uses. An enumeration or
// OLE_COLOR is described by the VARTYPE it travels as (VT_I4), not as a
// user-defined type. It is no type library: the base interface IDispatch is
// not described (no implemented types), and what only a type library or a
// module answers (GetTypeComp, GetContainingTypeLib, GetDllEntry,
// AddressOfMember, CreateInstance, GetMops) is E_NOTIMPL. Invoke passes the
// call to the instance's IDispatch::Invoke. The structures handed out are
// shared and read only; their Release functions do nothing.
#pragma once

#include <oaidl.h>

#include "scanmontura_interface.h"

namespace sim {

// A new type description of IScanMontura with one reference.
HRESULT CreateScanMonturaTypeInfo(ITypeInfo** out);

// GetIDsOfNames of an interface of the description: names[0] a function's
// name (any case), the others the names of named arguments, which no member
// takes. DISPID_UNKNOWN for every name not known; S_OK only if all are known.
HRESULT IdsOfNames(const scanmontura::Interface& which, LPOLESTR* names, UINT count, DISPID* ids);

}  // namespace sim
