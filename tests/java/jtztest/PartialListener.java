package jtztest;

import puente.IScanMonturaEvents;

/** Lacks OnClick; OnDblClick throws; has both callbacks. */
public class PartialListener extends IScanMonturaEvents {
    public final Recorder calls = new Recorder();
    public final RuntimeException thrown = new IllegalStateException("listener failed");

    public void OnChange() { calls.add("OnChange", null); }
    public void OnDblClick() { calls.add("OnDblClick", null); throw thrown; }

    public void JComOnEventError(String event, String message) {
        calls.add("JComOnEventError " + event + " " + message, null);
    }

    public void JComOnEventException(String event, Throwable t) {
        calls.add("JComOnEventException " + event, t);
    }
}
