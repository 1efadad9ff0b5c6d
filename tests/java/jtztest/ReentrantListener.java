package jtztest;

import puente.IScanMontura;
import puente.IScanMonturaEvents;

/**
 * Calls the component back from inside OnChange: reads its text, and puts {@code reply} once when
 * the text read is another. Records the text read and the thread that delivered the event.
 */
public class ReentrantListener extends IScanMonturaEvents {
    public final Recorder calls = new Recorder();
    public volatile IScanMontura component;
    public volatile String reply;

    public void OnChange() {
        String text = component.getText();
        calls.add(text + " on " + Thread.currentThread().getName(), null);
        String r = reply;
        if (r != null && !r.equals(text)) {
            reply = null;
            component.setText(r);
        }
    }
}
