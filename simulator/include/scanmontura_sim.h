// The simulated ScanMontura component: what it answers and how to drive it.
//
// The component is an in-process COM server (DllGetClassObject) for
// CLSID {834FBEE5-D957-11D3-9C50-0060972F00DC}. Its object answers
// QueryInterface for IUnknown, IDispatch, IScanMontura
// {834FBEE1-D957-11D3-9C50-0060972F00DC}, IConnectionPointContainer and
// ISimControl below; its one connection point serves IScanMonturaEvents
// {834FBEE3-D957-11D3-9C50-0060972F00DC}. The first instance created while
// no other is registered registers itself as the running instance
// (RegisterActiveObject, weak) and revokes that when it is destroyed.
//
// Simulated tracer
//   Ports (setPuertoComm): 1..16 open that port; 0 closes it; others E_INVALIDARG.
//   The simulated bench holds one frame in the tracer of each port:
//     port 1, 5, 9, 13: "rectangular"   port 2, 6, 10, 14: "oval"
//     port 3, 7, 11, 15: "aviator"      port 4, 8, 12, 16: "rimless" (drilled)
//   The environment variable SCANMONTURA_SIM_FRAME, when set to one of these
//   names, puts that frame in every tracer.
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
//   (45 included): DISP_E_MEMBERNOTFOUND. Events fire on the component's event
//   thread, never while it holds a lock: OnChange (1) whenever Text changes.
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
  DISPID named[4];      // the first min(cNamedArgs, 4) named DISPIDs
  VARIANT args[4];      // bitwise copies of rgvarg[0..min(cArgs,4)-1] (not owned)
  BOOL resultGiven;     // pVarResult was not null
  VARTYPE resultVtOnEntry;  // vt of *pVarResult on entry
  ULONG calls;          // Invoke calls so far on this object
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
  // number of sink Invoke calls made.
  virtual HRESULT STDMETHODCALLTYPE FireBurst(DISPID dispid, UINT threads, UINT perThread,
                                              ULONG* delivered) = 0;
  // From now on, a successful call of `dispid` answers with a copy of
  // `result` (VT_EMPTY, a BSTR for a number...) and HRESULT `hr` (S_FALSE...).
  // A null `result` removes the override.
  virtual HRESULT STDMETHODCALLTYPE OverrideResult(DISPID dispid, const VARIANT* result,
                                                   HRESULT hr) = 0;
  // From now on, calls of `dispid` fail with `hr` and an EXCEPINFO carrying
  // `description`; hr 0 removes the failure.
  virtual HRESULT STDMETHODCALLTYPE FailMember(DISPID dispid, HRESULT hr,
                                               LPCOLESTR description) = 0;
  // Waits until no scan runs and every queued event has been delivered.
  virtual HRESULT STDMETHODCALLTYPE WaitIdle(DWORD timeoutMs) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectionCount(ULONG* count) = 0;
  // Sink Invoke calls made so far for the connection with this cookie.
  virtual HRESULT STDMETHODCALLTYPE DeliveredTo(DWORD cookie, ULONG* count) = 0;
};
