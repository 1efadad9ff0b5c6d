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
    private final List<CountingListener> listeners = new ArrayList<>();
    private final List<Integer> cookies = new ArrayList<>();
    private volatile boolean running;

    public Churn(ScanMontura component, int threadCount) {
        this.component = component;
        for (int i = 0; i < threadCount; i++) threads.add(new Thread(this::run, "churn-" + i));
    }

    public void start() {
        running = true;
        for (Thread t : threads) t.start();
    }

    /**
     * Stops the threads; returns cookie, count, cookie, count, ... Called once the component
     * has stopped firing: an event already on its way when a listener disconnected still
     * arrives, so the counts are read only now.
     */
    public long[] stop() throws InterruptedException {
        running = false;
        for (Thread t : threads) t.join();
        synchronized (listeners) {
            long[] out = new long[listeners.size() * 2];
            for (int i = 0; i < listeners.size(); i++) {
                out[2 * i] = cookies.get(i);
                out[2 * i + 1] = listeners.get(i).changes();
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
            synchronized (listeners) {
                listeners.add(l);
                cookies.add(cookie);
            }
        }
    }
}
