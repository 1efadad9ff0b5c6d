// GUIDs of the ScanMontura component family, in the standard binary layout.
#pragma once

#include <oaidl.h>

namespace jtz {

// CLSID of the coclass ScanMontura.
extern const CLSID kClsidScanMontura;
// Its text form, as __JComGetGUID returns it.
inline constexpr char kClsidScanMonturaText[] = "{834FBEE5-D957-11D3-9C50-0060972F00DC}";
// The dispatch interface IScanMontura.
extern const IID kIidIScanMontura;
// The event interface IScanMonturaEvents.
extern const IID kIidIScanMonturaEvents;
// Asked of an event sink, it answers the address of the IID of the event
// interface it serves (a GUID, not an interface, and no reference).
extern const IID kIidEventIidQuery;

}  // namespace jtz
