// SimControl: the test control of a simulated component for callers in
// another apartment (ISimControlDispatch of scanmontura_interface.h), an
// object of its own that COM creates in the component's apartment.
//
//   IDispatch* control;  CoCreateInstance(CLSID of SimControl, ..., IID_IDispatch, &control);
//   control->Invoke(Attach, ... VT_DISPATCH component ...);   // then TypeText, Click, ...
#pragma once

#include <oaidl.h>

namespace sim {

// A new SimControl, as IID asks for.
HRESULT CreateSimControl(REFIID riid, void** ppv);

}  // namespace sim
