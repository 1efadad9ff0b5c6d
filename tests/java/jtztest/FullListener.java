package jtztest;

import puente.IScanMonturaEvents;

/** Has every event method and both callbacks; records each call. */
public class FullListener extends IScanMonturaEvents {
    public final Recorder calls = new Recorder();
    /** Key that OnKeyPress writes into the array (or -1 to leave it). */
    public volatile int replaceKey = -1;
    /** Whether OnKeyPress turns a lower-case ASCII letter into upper case. */
    public volatile boolean upperCaseAscii;

    public void OnChange() { calls.add("OnChange", null); }
    public void OnClick() { calls.add("OnClick", null); }
    public void OnDblClick() { calls.add("OnDblClick", null); }

    public void OnKeyPress(byte[] key) {
        calls.add("OnKeyPress " + (key == null ? "null" : key.length + ":" + key[0]), key);
        if (key != null && replaceKey >= 0) key[0] = (byte) replaceKey;
        if (key != null && upperCaseAscii && key[0] >= 'a' && key[0] <= 'z') key[0] -= 'a' - 'A';
    }

    public void JComOnEventError(String event, String message) {
        calls.add("JComOnEventError " + event + " " + message, null);
    }

    public void JComOnEventException(String event, Throwable t) {
        calls.add("JComOnEventException " + event, t);
    }
}
