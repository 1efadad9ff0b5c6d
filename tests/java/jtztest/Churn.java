package jtztest;

import java.util.ArrayList;
import java.util.List;
import puente.ScanMontura;

/**
 * Java threads that keep connecting and disconnecting listeners to a component
 * while it fires; records, per listener, its cookie and the events it got.
 */
public final class Churn {
    private final ScanMontura component;
    private final List<Thread> threads = new ArrayList<>();
    private final List<long[]> results = new ArrayList<>();
    private volatile boolean running;

    public Churn(ScanMontura component, int threadCount) {
        this.component = component;
        for (int i = 0; i < threadCount; i++) threads.add(new Thread(this::run, "churn-" + i));
    }

    public void start() {
        running = true;
        for (Thread t : threads) t.start();
    }

    /** Stops the threads; returns cookie, count, cookie, count, ... */
    public long[] stop() throws InterruptedException {
        running = false;
        for (Thread t : threads) t.join();
        synchronized (results) {
            long[] out = new long[results.size() * 2];
            for (int i = 0; i < results.size(); i++) {
                out[2 * i] = results.get(i)[0];
                out[2 * i + 1] = results.get(i)[1];
            }
            return out;
        }
    }

    private void run() {
        while (running) {
            CountingListener l = new CountingListener();
            int cookie = l.connectTo(component);
            Thread.yield();
            l.disconnect();
            synchronized (results) {
                results.add(new long[] {cookie, l.changes()});
            }
        }
    }
}
