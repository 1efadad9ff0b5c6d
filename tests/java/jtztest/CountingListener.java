package jtztest;

import java.util.concurrent.atomic.AtomicLong;
import puente.IScanMonturaEvents;
import puente.ScanMontura;

/** Counts OnChange events; connects and disconnects itself. */
public class CountingListener extends IScanMonturaEvents {
    private final AtomicLong changes = new AtomicLong();

    public void OnChange() {
        changes.incrementAndGet();
    }

    public long changes() {
        return changes.get();
    }

    public int connectTo(ScanMontura component) {
        listen();
        return connect(component);
    }
}
