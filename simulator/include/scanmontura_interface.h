// The interfaces of the simulated ScanMontura component as the component
// describes them itself: its dispatch interface IScanMontura and its event
// interface IScanMonturaEvents, one row per function as a type library has
// them (a property's get and put are two functions with one DISPID), and the
// dispatch interface of its test control, ISimControlDispatch.
//
// The component answers exactly this: IDispatch::Invoke accepts these DISPIDs
// with these invocation kinds and argument types, GetIDsOfNames maps these
// names, and GetTypeInfo hands out a type description built from this table
// (simulator/src/type_info.cpp). Its connection point fires the events listed
// here. Its type library (kLibrary below) is compiled from an IDL that
// simulator/typelib/gen_idl.cpp writes from this file. Nothing in this file
// comes from the bridge.
//
// Each row reads as the IDL of a dispinterface would declare it, e.g.
//   [id(-517), propget] BSTR Text();
//   [id(-517), propput] void Text([in] BSTR Value);
//   [id(25)] long GetSelTextBuf([in] unsigned char Buffer, [in] long BufSize);
//   [id(9)] void OnKeyPress([in, out] short* Key);
// Type::vt is the VARTYPE of the value as it travels in a VARIANT (what the
// component answers with and reads arguments as); Type::idl is the type's name
// in IDL, which tells an enumeration or OLE_COLOR from a plain long.
#pragma once

#include <oaidl.h>
#if defined(_WIN32)
#include <olectl.h>  // the standard DISPIDs
#endif

#include <cstddef>

namespace scanmontura {

enum class Kind : unsigned short {
  kMethod = 1,  // INVOKE_FUNC, DISPATCH_METHOD
  kGet = 2,     // INVOKE_PROPERTYGET, DISPATCH_PROPERTYGET
  kPut = 4,     // INVOKE_PROPERTYPUT, DISPATCH_PROPERTYPUT
};

struct Type {
  VARTYPE vt;
  const char* idl;
};

struct Param {
  const char* name;
  Type type;
};

struct Function {
  const char* name;
  DISPID dispid;
  Kind kind;
  Type result;  // kVoid for puts and methods without a result
  unsigned paramCount;
  Param params[2];  // declaration order (rgvarg holds them last-first)
  const char* doc;  // help string, or null
};

struct Interface {
  const char* name;
  IID iid;
  const Function* functions;
  std::size_t count;
  const char* doc = nullptr;  // help string, or null
};

inline constexpr Type kVoid{VT_VOID, "void"};
inline constexpr Type kBool{VT_BOOL, "VARIANT_BOOL"};
inline constexpr Type kByte{VT_UI1, "unsigned char"};
inline constexpr Type kShort{VT_I2, "short"};
inline constexpr Type kLong{VT_I4, "long"};
inline constexpr Type kInt{VT_INT, "int"};
inline constexpr Type kFloat{VT_R4, "float"};
inline constexpr Type kBstr{VT_BSTR, "BSTR"};
inline constexpr Type kShortRef{VT_BYREF | VT_I2, "short*"};
inline constexpr Type kDispatch{VT_DISPATCH, "IDispatch*"};
// An OLE_COLOR travels as a long (0x00BBGGRR, or 0x800000nn for a system colour).
inline constexpr Type kColor{VT_I4, "OLE_COLOR"};
// Enumerations travel as longs.
inline constexpr Type kFormBorderStyle{VT_I4, "TxFormBorderStyle"};
inline constexpr Type kEditCharCase{VT_I4, "TxEditCharCase"};
inline constexpr Type kDragMode{VT_I4, "TxDragMode"};
inline constexpr Type kImeMode{VT_I4, "TxImeMode"};

constexpr Function Get(const char* name, DISPID id, Type t, const char* doc = nullptr) {
  return Function{name, id, Kind::kGet, t, 0, {}, doc};
}
constexpr Function Put(const char* name, DISPID id, Type t, const char* doc = nullptr) {
  return Function{name, id, Kind::kPut, kVoid, 1, {{"Value", t}, {}}, doc};
}
constexpr Function Method(const char* name, DISPID id, Type result, const char* doc = nullptr) {
  return Function{name, id, Kind::kMethod, result, 0, {}, doc};
}
constexpr Function Method(const char* name, DISPID id, Type result, Param p1,
                          const char* doc = nullptr) {
  return Function{name, id, Kind::kMethod, result, 1, {p1, {}}, doc};
}
constexpr Function Method(const char* name, DISPID id, Type result, Param p1, Param p2,
                          const char* doc = nullptr) {
  return Function{name, id, Kind::kMethod, result, 2, {p1, p2}, doc};
}

// dispinterface IScanMontura {834FBEE1-D957-11D3-9C50-0060972F00DC}
inline constexpr Function kIScanMonturaFunctions[] = {
    // Edit control: properties read and written.
    Get("AutoSelect", 1, kBool),
    Put("AutoSelect", 1, kBool),
    Get("AutoSize", 2, kBool),
    Put("AutoSize", 2, kBool),
    Get("BorderStyle", 3, kFormBorderStyle),
    Put("BorderStyle", 3, kFormBorderStyle),
    Get("CharCase", 4, kEditCharCase),
    Put("CharCase", 4, kEditCharCase),
    Get("Color", DISPID_BACKCOLOR, kColor),
    Put("Color", DISPID_BACKCOLOR, kColor),
    Get("Ctl3D", 5, kBool),
    Put("Ctl3D", 5, kBool),
    Get("DragCursor", 6, kShort),
    Put("DragCursor", 6, kShort),
    Get("DragMode", 7, kDragMode),
    Put("DragMode", 7, kDragMode),
    Get("Enabled", DISPID_ENABLED, kBool),
    Put("Enabled", DISPID_ENABLED, kBool),
    Get("HideSelection", 8, kBool),
    Put("HideSelection", 8, kBool),
    Get("ImeMode", 9, kImeMode),
    Put("ImeMode", 9, kImeMode),
    Get("ImeName", 10, kBstr),
    Put("ImeName", 10, kBstr),
    Get("MaxLength", 11, kLong),
    Put("MaxLength", 11, kLong),
    Get("OEMConvert", 12, kBool),
    Put("OEMConvert", 12, kBool),
    Get("ParentColor", 13, kBool),
    Put("ParentColor", 13, kBool),
    Get("ParentCtl3D", 14, kBool),
    Put("ParentCtl3D", 14, kBool),
    Get("PasswordChar", 15, kByte),
    Put("PasswordChar", 15, kByte),
    Get("ReadOnly", 16, kBool),
    Put("ReadOnly", 16, kBool),
    Get("Text", DISPID_TEXT, kBstr),
    Put("Text", DISPID_TEXT, kBstr),
    Get("Visible", 17, kBool),
    Put("Visible", 17, kBool),
    Get("Modified", 29, kBool),
    Put("Modified", 29, kBool),
    Get("SelLength", 30, kLong),
    Put("SelLength", 30, kLong),
    Get("SelStart", 31, kLong),
    Put("SelStart", 31, kLong),
    Get("SelText", 32, kBstr),
    Put("SelText", 32, kBstr),
    Get("DoubleBuffered", 33, kBool),
    Put("DoubleBuffered", 33, kBool),
    Get("Cursor", 42, kShort),
    Put("Cursor", 42, kShort),
    // Edit control: read only.
    Get("CanUndo", 28, kBool),
    // Edit control: methods.
    Method("Clear", 18, kVoid),
    Method("ClearSelection", 19, kVoid),
    Method("CopyToClipboard", 20, kVoid),
    Method("CutToClipboard", 21, kVoid),
    Method("PasteFromClipboard", 22, kVoid),
    Method("Undo", 23, kVoid),
    Method("ClearUndo", 24, kVoid),
    Method("GetSelTextBuf", 25, kLong, {"Buffer", kByte}, {"BufSize", kLong},
           "how many of the first BufSize selected characters are Buffer"),
    Method("SelectAll", 26, kVoid),
    Method("SetSelTextBuf", 27, kVoid, {"Buffer", kByte}, "replaces the selection by Buffer"),
    Method("DrawTextBiDiModeFlagsReadingOnly", 35, kLong),
    Method("InitiateAction", 36, kVoid),
    Method("IsRightToLeft", 37, kBool),
    Method("UseRightToLeftReading", 40, kBool),
    Method("UseRightToLeftScrollBar", 41, kBool),
    // Frame tracer.
    Put("PuertoComm", 34, kShort, "communications port: 1 to 16 opens it, 0 closes"),
    Method("Cierra", 38, kVoid, "closes the tracer"),
    Put("Velocidad", 39, kInt, "scan speed, 1 to 10"),
    Get("Calibrado", 43, kShort, "1 when the tracer is calibrated"),
    Get("Taladros", 44, kBstr, "drill holes of the last trace"),
    Put("ModoScan", 46, kShort, "scan mode: 1 (400 points) or 2 (1000 points)"),
    Method("Explora", 47, kVoid, "starts a scan"),
    Put("Ojo", 48, kInt, "eye: 1 right, 2 left"),
    Get("RadioIni", 49, kFloat, "initial radius, mm"),
    Get("RadioDeltas", 50, kBstr, "radius deltas, 1/100 mm"),
    Get("BoxH", 51, kFloat, "box width, mm"),
    Get("BoxV", 52, kFloat, "box height, mm"),
    Get("DistCentro", 53, kFloat, "distance between box centres, mm"),
    Get("DistBorde", 54, kFloat, "distance between lenses, mm"),
    Get("Base", 55, kFloat, "base curve, dioptres"),
    Get("Perimetro", 56, kFloat, "perimeter, mm"),
    Get("Status", 57, kLong, "0 closed, 1 ready, 100+p scanning, 200 trace ready, -1 failed"),
};

// dispinterface IScanMonturaEvents {834FBEE3-D957-11D3-9C50-0060972F00DC}: the
// component's source interface, fired through its connection point.
inline constexpr Function kIScanMonturaEventsFunctions[] = {
    Method("OnChange", 1, kVoid, "the text changed"),
    Method("OnClick", 2, kVoid),
    Method("OnDblClick", 3, kVoid),
    Method("OnKeyPress", 9, kVoid, {"Key", kShortRef},
           "a key typed; the key the sinks leave in Key is applied (0 swallows it)"),
};

// dispinterface ISimControlDispatch {5C1A0E22-7E4B-4C55-9B0D-3D6A91C2E002}:
// the test control (scanmontura_sim.h) for callers in another apartment, to
// whom COM does not hand ISimControl itself (it has no proxy). It is the
// dispatch interface of an object of its own, class SimControl, which COM
// creates in the apartment where a component created by the same caller
// lives (the class has the component's threading model); Attach ties it to
// that component (passed as the caller holds it), whose ISimControl it then
// calls there. Create makes a component of its own there and attaches to it,
// for a caller in another process: COM's DLL surrogate may serve each class,
// or each creation, from a process of its own, where no Attach can reach the
// caller's component. Thread numbers are Windows thread identifiers there,
// and small numbers of the process's own elsewhere.
inline constexpr Function kISimControlDispatchFunctions[] = {
    Method("Attach", 1, kVoid, {"Component", kDispatch},
           "ties the control to a component of its apartment"),
    Method("TypeText", 2, kVoid, {"Text", kBstr}, "types the text as a user would"),
    Method("Click", 3, kVoid, "fires OnClick"),
    Method("DblClick", 4, kVoid, "fires OnDblClick"),
    Method("WaitIdle", 5, kVoid, {"TimeoutMs", kLong},
           "waits until no scan runs and every queued event is delivered"),
    Get("ConnectionCount", 6, kLong, "sinks connected"),
    Get("Apartment", 7, kLong, "where the component lives: 1 a single-threaded apartment, 2 not"),
    Get("HomeThread", 8, kLong, "the thread the component was created on"),
    Get("CallThread", 9, kLong, "the thread of the latest IScanMontura call"),
    Get("EventThread", 10, kLong, "the thread the latest event was fired on, 0 before the first"),
    Method("Create", 11, kDispatch,
           "creates a component in the control's apartment, attaches to it and returns it"),
};

inline constexpr Interface kIScanMontura{
    "IScanMontura",
    {0x834FBEE1, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}},
    kIScanMonturaFunctions,
    sizeof kIScanMonturaFunctions / sizeof kIScanMonturaFunctions[0],
    "an edit control and an eyeglass-frame tracer"};

inline constexpr Interface kIScanMonturaEvents{
    "IScanMonturaEvents",
    {0x834FBEE3, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}},
    kIScanMonturaEventsFunctions,
    sizeof kIScanMonturaEventsFunctions / sizeof kIScanMonturaEventsFunctions[0],
    "events of the edit control"};

inline constexpr Interface kISimControlDispatch{
    "ISimControlDispatch",
    {0x5C1A0E22, 0x7E4B, 0x4C55, {0x9B, 0x0D, 0x3D, 0x6A, 0x91, 0xC2, 0xE0, 0x02}},
    kISimControlDispatchFunctions,
    sizeof kISimControlDispatchFunctions / sizeof kISimControlDispatchFunctions[0],
    "test control of the simulated component"};

// A class of the library: its default interface and default event source.
struct Coclass {
  const char* name;
  CLSID clsid;
  const char* doc;
  const Interface* defaultInterface;
  const Interface* defaultSource;  // or null
};

inline constexpr Coclass kScanMontura{
    "ScanMontura",
    {0x834FBEE5, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}},
    "the simulated ScanMontura component",
    &kIScanMontura,
    &kIScanMonturaEvents};

inline constexpr Coclass kSimControl{
    "SimControl",
    {0x5C1A0E23, 0x7E4B, 0x4C55, {0x9B, 0x0D, 0x3D, 0x6A, 0x91, 0xC2, 0xE0, 0x03}},
    "test control of a simulated component, in the component's apartment",
    &kISimControlDispatch,
    nullptr};

// The type library: the three interfaces and the two classes. The library has
// an identifier of the simulator's own, so that registering the simulator
// leaves a type library of the real component alone.
struct Library {
  const char* name;
  GUID libid;
  unsigned short major, minor;
  unsigned long lcid;  // 0: language neutral, the locale LoadRegTypeLib(..., 0, ...) finds
  const char* doc;
  const Interface* interfaces[3];
  const Coclass* coclasses[2];
};

inline constexpr Library kLibrary{
    "ScanMonturaSimLib",
    {0x5C1A0E20, 0x7E4B, 0x4C55, {0x9B, 0x0D, 0x3D, 0x6A, 0x91, 0xC2, 0xE0, 0x00}},
    1,
    0,
    0,
    "ScanMontura, simulated",
    {&kIScanMontura, &kIScanMonturaEvents, &kISimControlDispatch},
    {&kScanMontura, &kSimControl}};

// The first function of an interface with that name (exactly), or null.
constexpr const Function* Find(const Interface& in, const char* name) {
  for (std::size_t i = 0; i < in.count; ++i) {
    const char* a = in.functions[i].name;
    const char* b = name;
    while (*a && *a == *b) ++a, ++b;
    if (*a == *b) return &in.functions[i];
  }
  return nullptr;
}

}  // namespace scanmontura
