// The simulated ScanMontura component: what it answers and how to drive it.
//
// The component is an in-process COM server (DllGetClassObject) for
// CLSID {834FBEE5-D957-11D3-9C50-0060972F00DC}. Its object answers
// QueryInterface for IUnknown, IDispatch, IScanMontura
// {834FBEE1-D957-11D3-9C50-0060972F00DC}, IConnectionPointContainer and
// ISimControl below; its one connection point serves IScanMonturaEvents
// {834FBEE3-D957-11D3-9C50-0060972F00DC}, whose events (DISPIDs and
// arguments) are also those of scanmontura_interface.h. The first instance created while
// no other is registered registers itself as the running instance
// (RegisterActiveObject, weak) and revokes that when it is destroyed (on
// Windows, whose table keeps references even for a weak registration: when
// only the table's references are left); an instance in a single-threaded
// apartment does not. Objects live in CoTaskMemAlloc memory (below 2 GiB on
// x86-64 hosts). DllCanUnloadNow counts live instances and LockServer locks,
// not class factories.
//
// The module also serves class SimControl {5C1A0E23-7E4B-4C55-9B0D-3D6A91C2E003},
// ISimControl's operations through IDispatch (ISimControlDispatch of
// scanmontura_interface.h) for callers in another apartment, to whom COM
// hands no ISimControl: created by them, it lives in the apartment where
// their components live (it has the same threading model), and Attach(the
// component, as they hold it) ties it to one; it answers E_INVALIDARG for
// anything but a component of its apartment, and E_UNEXPECTED before Attach.
//
// Registration (Windows): DllRegisterServer registers the classes with the
// threading model "Both", or "Apartment" when the environment variable
// SCANMONTURA_SIM_THREADING says so (any other value: E_INVALIDARG), and the
// type library embedded in the module (resource TYPELIB 1, library
// ScanMonturaSimLib, compiled from scanmontura_interface.h) with its
// interfaces, for the type library marshaler; DllUnregisterServer removes both.
//
// Build: target ScanMonturaSim (the server module); clients of this header
// link ScanMonturaSimControl, which defines IID_ISimControl.
//
// Simulated tracer
//   Ports (setPuertoComm): 1..16 open that port; 0 closes it; others E_INVALIDARG.
//   The simulated bench holds one frame in the tracer of each port:
//     port 1, 5, 9, 13: "rectangular"   port 2, 6, 10, 14: "oval"
//     port 3, 7, 11, 15: "aviator"      port 4, 8, 12, 16: "rimless" (drilled)
//   The environment variable SCANMONTURA_SIM_FRAME, when set to one of these
//   names, puts that frame in every tracer; "none" empties every tracer (see
//   below). Any other value makes Explora fail with E_INVALIDARG and a
//   description that lists the known values. ISimControl::SetFrame chooses the
//   frame of one port, or of all, and wins over the variable.
//   Speed (setVelocidad): 1..10; a scan takes 2000 ms / speed.  Default 5.
//   Scan mode (setModoScan): 1 = 400 points, 2 = 1000 points.   Default 1.
//   Eye (setOjo): 1 = right, 2 = left.                             Default 1.
//   getCalibrado: 1 when the tracer is calibrated (always, once a port is
//   open), 0 while no port is open.
//   Explora: E_FAIL with a description when no port is open or a scan runs;
//   otherwise starts a scan on the component's own thread and returns.
//   getStatus: 0 port closed, 1 ready (no trace yet), 100 + p while scanning
//   (p = percent done, 0..99), 200 trace available, -1 scan failed.
//   While scanning, Text shows "Scanning p%" (OnChange each 10%); when done,
//   Text shows "Trace: N points" (OnChange).
//   Cierra closes the port (status 0); the last trace stays readable.
//   Details:
//   - Opening a port gives status 1, or 200 while a trace from before is held.
//   - A scan uses the speed, mode and eye set when Explora was called; they
//     may be changed while it runs. setPuertoComm during a scan fails with
//     DISP_E_EXCEPTION (EXCEPINFO scode E_FAIL). Cierra during a scan aborts
//     it at once: Text "Scan aborted", status 0, no new trace.
//   - SCANMONTURA_SIM_FRAME=none empties every tracer: scans run their course
//     and then fail (status -1, Text "Scan failed: no frame in the tracer").
//   - These status lines bypass ReadOnly and MaxLength (CharCase applies),
//     leave Modified alone and empty the undo step.
//
// Frames (right eye; nasal side towards 3 o'clock), nominal box sizes:
//   rectangular  52 x 38 mm  superellipse |x/26|^4 + |y/19|^4 = 1   DBL 18  base 4
//   oval         50 x 36 mm  ellipse, semi-axes 25 and 18           DBL 17  base 5
//   aviator     ~56 x 48 mm  ellipse 26.5 x 23 swelling by up to 22%
//                            towards the lower nasal side (-40 deg)  DBL 19  base 6
//   rimless      50 x 34 mm  superellipse |x/25|^3 + |y/17|^3 = 1   DBL 20  base 4.5
//                drilled: "2;22.50,4.00,1.40;-22.50,4.00,1.40" (nasal, temporal)
//   Each outline is centred on its bounding box before it is sampled; the
//   figures reported are those of the integer trace, so they may differ from
//   the nominal sizes by a few hundredths (the aviator by up to a millimetre).
//
// Measured values (after a scan; before one they are 0 / empty):
//   getRadioIni: radius r0 of point 0 in mm (float).
//   getRadioDeltas: "N;d1;d2;...;d(N-1)": N points at equally spaced angles,
//     point i at 360*i/N degrees counter-clockwise from 3 o'clock, about the
//     box centre; d_i = R_i - R_(i-1) in integer 1/100 mm, where
//     R_0 = round(r0 * 100). So radius i in mm = (R_0 + d_1 + ... + d_i) / 100.
//   getBoxH, getBoxV: box width and height of the decoded outline, mm.
//   getDistBorde: distance between lenses (DBL), mm.
//   getDistCentro: distance between box centres, getBoxH() + getDistBorde(), mm.
//   getBase: base curve, dioptres.
//   getPerimetro: perimeter of the decoded outline (polygon of the N points), mm.
//   getTaladros: "K" then ";x,y,d" per drill hole: centre x (towards 3 o'clock),
//     y (up) about the box centre and diameter d, mm, two decimals; "0" when
//     the frame has none.
//   For the left eye the outline is the mirror image (x -> -x) of the right one.
//
// Edit control: Text with MaxLength, SelStart/SelLength/SelText, Modified,
//   one-level undo, a process-local clipboard, CharCase, PasswordChar,
//   ReadOnly (edits fail with E_ACCESSDENIED and a description), Color
//   defaulting to 0x80000005 (system colour "window"), enumerations validated
//   (E_INVALIDARG with a description). Any DISPID not of the member table
//   (45 included): DISP_E_MEMBERNOTFOUND. Events fire never while it holds a
//   lock, on the threads Threads below gives: OnChange (1) whenever Text changes.
//   Details:
//   - Defaults: AutoSelect, AutoSize, Ctl3D, Enabled, HideSelection,
//     ParentCtl3D, Visible true; OEMConvert, ParentColor, DoubleBuffered,
//     ReadOnly, Modified false; BorderStyle 1 (bsSingle), ImeMode 3
//     (imDontCare), CharCase 0, DragMode 0, DragCursor -12, Cursor 0,
//     MaxLength 0 (no limit), PasswordChar 0.
//   - Enumerations: TxFormBorderStyle 0..5 (bsNone bsSingle bsSizeable
//     bsDialog bsToolWindow bsSizeToolWin), TxEditCharCase 0..2 (normal upper
//     lower), TxDragMode 0..1 (dmManual dmAutomatic), TxImeMode 0..11
//     (imDisable imClose imOpen imDontCare imSAlpha imAlpha imHira imSKata
//     imKata imChinese imSHanguel imHanguel). MaxLength < 0: E_INVALIDARG.
//   - Edits: setText, setSelText, Clear, ClearSelection, CutToClipboard,
//     PasteFromClipboard, Undo, SetSelTextBuf and typed keys. Each sets
//     Modified and becomes the one undo step (a TypeText call is one step);
//     while ReadOnly each fails with E_ACCESSDENIED, "The control is
//     read-only". An edit that leaves the text as it was fires no OnChange.
//   - setText puts the caret at 0; setSelText inserts at the selection and
//     puts the caret after it; setSelStart clamps and selects nothing;
//     setSelLength clamps to what follows SelStart. MaxLength truncates new
//     text (lowering it keeps the present text). CharCase converts the text
//     and all new input (ASCII, Latin-1, Greek and Cyrillic letters).
//   - Undo swaps the text with the one before the last edit, so a second Undo
//     redoes it; the caret goes to the end. CanUndo until ClearUndo.
//   - The clipboard is shared by every instance in the process; Copy and Cut
//     with nothing selected leave it alone.
//   - GetSelTextBuf(b, n): how many of the first n selected characters are
//     the character b (n < 0: E_INVALIDARG). SetSelTextBuf(b): the selection
//     becomes the single character b; b = 0 (an empty buffer) deletes it.
//   - DrawTextBiDiModeFlagsReadingOnly answers 0 (left-to-right reading);
//     IsRightToLeft, UseRightToLeftReading, UseRightToLeftScrollBar false;
//     InitiateAction does nothing. Color takes any OLE_COLOR.
//   - Typing (ISimControl::TypeText): backspace (8) deletes the selection or
//     the character before the caret, other control characters do nothing, a
//     character that MaxLength leaves no room for is dropped.
//
// IDispatch: riid other than IID_NULL: DISP_E_UNKNOWNINTERFACE. A flag the
//   member lacks (PROPERTYPUTREF included): DISP_E_MEMBERNOTFOUND; a method
//   also answers METHOD|PROPERTYGET. Wrong cArgs: DISP_E_BADPARAMCOUNT; named
//   arguments on a get or a method: DISP_E_NONAMEDARGS; a put without the one
//   named DISPID_PROPERTYPUT: DISP_E_PARAMNOTFOUND. Arguments of another type
//   (one level of VT_BYREF included) are coerced with VariantChangeType, else
//   DISP_E_TYPEMISMATCH with *puArgErr the rgvarg index. A failure with a
//   reason fills the EXCEPINFO when one is given (wCode 0, scode, source
//   "ScanMontura", the reason). The members, their DISPIDs, invocation kinds
//   and types are those of the component's own description of its interfaces,
//   scanmontura_interface.h. GetIDsOfNames knows the member names (case
//   insensitive; no parameter names: the members take no named arguments);
//   GetTypeInfoCount answers 1 and GetTypeInfo(0) a type description of
//   IScanMontura built from that description (simulator/src/type_info.h).
//
// Threads: member calls may come from any thread. Events are delivered on the
//   event thread (FireBurst: on its own threads); OnChange of a member call is
//   queued, the call does not wait. With the environment variable
//   SCANMONTURA_SIM_EVENTS=in-call when an instance is created, that instance
//   fires the OnChange of a member call (setText, setSelText, CharCase, the
//   edits, Cierra's "Scan aborted") inside the call instead, as many real
//   controls do: on the calling thread, before the call returns, never while
//   it holds a lock. Unset, empty or "queued": queued, the default; another
//   value: creation fails with E_INVALIDARG. A scan's OnChange is queued
//   either way. A sink may call the component back,
//   ISimControl included (FireEvent and the like then run in place). The
//   threads end when the last reference goes, even inside a sink call; events
//   still queued then are dropped.
//   An instance created in a single-threaded apartment (Windows: registered
//   "Apartment", or "Both" created on such a thread) lives on that thread, as
//   an ActiveX control does, and fires every event there, to the sinks as its
//   apartment received them (proxies, for sinks of another apartment): those
//   of FireEvent, TypeText, Click and DblClick in place, queued ones from the
//   thread's message loop (a message-only window) or from WaitIdle called
//   there (fired in the call, a member call's OnChange comes in place, after
//   the events queued before it). FireBurst answers RPC_E_WRONG_THREAD then.
#pragma once

#include <oaidl.h>
#include <ocidl.h>

// {5C1A0E21-7E4B-4C55-9B0D-3D6A91C2E001}
extern "C" const IID IID_ISimControl;

// What ISimControl::WaitIdle answers when its timeout passes first
// (HRESULT_FROM_WIN32(WAIT_TIMEOUT)). A timeout of 0xFFFFFFFF waits for ever.
#define SIM_E_TIMEOUT ((HRESULT)0x80070102L)

// What the component saw in its latest IDispatch::Invoke call.
struct SimCallRecord {
  DISPID dispid;
  WORD flags;
  UINT cArgs;
  UINT cNamedArgs;
  DISPID named[4];          // the first min(cNamedArgs, 4) named DISPIDs
  VARIANT args[4];          // bitwise copies of rgvarg[0..min(cArgs,4)-1] (not owned)
  BOOL resultGiven;         // pVarResult was not null
  VARTYPE resultVtOnEntry;  // vt of *pVarResult on entry
  ULONG calls;              // Invoke calls so far on this object
};

// Test and demo control of the simulated component.
struct ISimControl : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLastCall(SimCallRecord* out) = 0;
  // Fire an event to every connected sink: rgvarg as given (last argument
  // first), cArgs of them. Synchronous: returns when every sink's Invoke has
  // returned. The sinks are called on the component's event thread.
  virtual HRESULT STDMETHODCALLTYPE FireEvent(DISPID dispid, VARIANT* rgvarg, UINT cArgs) = 0;
  // Type text as a user would: per character OnKeyPress (9) with one argument
  // VT_BYREF|VT_I2 holding the key (a SHORT); the key the sinks leave is applied (0
  // swallows it), then OnChange. Synchronous like FireEvent.
  virtual HRESULT STDMETHODCALLTYPE TypeText(LPCOLESTR text) = 0;
  virtual HRESULT STDMETHODCALLTYPE Click() = 0;     // OnClick (2)
  virtual HRESULT STDMETHODCALLTYPE DblClick() = 0;  // OnDblClick (3)
  // Fire `perThread` events of `dispid` (no arguments) from each of `threads`
  // new threads at once; returns when all are done. *delivered receives the
  // number of sink Invoke calls made. threads: 1 to 64, else E_INVALIDARG.
  virtual HRESULT STDMETHODCALLTYPE FireBurst(DISPID dispid, UINT threads, UINT perThread,
                                              ULONG* delivered) = 0;
  // From now on, a successful call of `dispid` answers with a copy of
  // `result` (VT_EMPTY, a BSTR for a number...) and HRESULT `hr` (S_FALSE...).
  // A null `result` removes the override. The call itself still happens.
  // (Overrides and failures apply to well-formed calls: shape and arguments
  // are checked first.)
  virtual HRESULT STDMETHODCALLTYPE OverrideResult(DISPID dispid, const VARIANT* result,
                                                   HRESULT hr) = 0;
  // From now on, calls of `dispid` fail with `hr` and an EXCEPINFO carrying
  // `description` (scode hr, or E_FAIL when hr is DISP_E_EXCEPTION; no
  // description when it is null); hr 0 removes the failure. Nothing is done.
  virtual HRESULT STDMETHODCALLTYPE FailMember(DISPID dispid, HRESULT hr,
                                               LPCOLESTR description) = 0;
  // Waits until no scan runs and every queued event has been delivered:
  // S_OK, or SIM_E_TIMEOUT; E_UNEXPECTED when called from a sink on the
  // event thread (it would wait for itself).
  virtual HRESULT STDMETHODCALLTYPE WaitIdle(DWORD timeoutMs) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectionCount(ULONG* count) = 0;
  // Sink Invoke calls made so far for the connection with this cookie, kept
  // after Unadvise; E_INVALIDARG for a cookie never handed out.
  virtual HRESULT STDMETHODCALLTYPE DeliveredTo(DWORD cookie, ULONG* count) = 0;
  // Puts `frame` in the tracer of `port` (1..16; 0: of every port) for the
  // scans that start from now on: a frame's name, "none" for an empty tracer,
  // or null for what the bench holds there (its own frame of that port, or
  // SCANMONTURA_SIM_FRAME's). A chosen frame wins over SCANMONTURA_SIM_FRAME.
  // E_INVALIDARG for another port or name. Not offered by SimControl.
  virtual HRESULT STDMETHODCALLTYPE SetFrame(SHORT port, LPCOLESTR frame) = 0;
};
