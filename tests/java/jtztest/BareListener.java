package jtztest;

import puente.IScanMonturaEvents;

/** Has no event method and no callback; OnChange only, whose callback throws. */
public class BareListener extends IScanMonturaEvents {
    public final Recorder calls = new Recorder();

    public void OnChange() {
        calls.add("OnChange", null);
        throw new IllegalStateException("OnChange failed");
    }

    /** Throws too: its exception must be cleared, not reported again. */
    public void JComOnEventException(String event, Throwable t) {
        calls.add("JComOnEventException " + event, t);
        throw new IllegalArgumentException("callback failed");
    }
}
