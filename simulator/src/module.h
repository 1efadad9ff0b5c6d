// Module-wide bookkeeping of the simulator library.
#pragma once

#include <oaidl.h>

namespace sim {

extern const CLSID kClsidScanMontura;
extern const IID kIidIScanMontura;
extern const IID kIidIScanMonturaEvents;
// Answered by a ScanMontura of this module only, with the object itself (a
// ScanMontura*, one reference added): how SimControl finds its component.
extern const IID kIidSimSelf;

// Objects alive in this module; DllCanUnloadNow answers S_OK at zero.
void ModuleObjectCreated();
void ModuleObjectDestroyed();

#if defined(_WIN32)
// The module's handle (for its window class and its type library).
HINSTANCE ModuleHandle();
#endif

}  // namespace sim
