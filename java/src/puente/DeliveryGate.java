package puente;

import java.util.ArrayList;
import java.util.List;

/**
 * The deliveries to one registration: none starts once it is closed, and closing waits until those
 * under way have returned, so that once a registration's {@code close()} has returned its listener
 * is not called again. A close made by a listener from inside a delivery (of this registration, on
 * this thread) does not wait for that delivery.
 */
final class DeliveryGate {
    private final Object lock = new Object();
    private final List<Thread> delivering = new ArrayList<>(2);
    private boolean closed;

    /** Starts a delivery; false once the gate is closed (the listener must not be called). */
    boolean enter() {
        synchronized (lock) {
            if (closed) {
                return false;
            }
            delivering.add(Thread.currentThread());
            return true;
        }
    }

    /** Ends a delivery that {@link #enter()} started. */
    void exit() {
        synchronized (lock) {
            delivering.remove(Thread.currentThread());
            if (closed) {
                lock.notifyAll();
            }
        }
    }

    /** Returns true while the calling thread is inside a delivery through this gate. */
    boolean deliveringOnThisThread() {
        synchronized (lock) {
            return delivering.contains(Thread.currentThread());
        }
    }

    /** Closes the gate; true for the call that closed it. */
    boolean close() {
        synchronized (lock) {
            if (closed) {
                return false;
            }
            closed = true;
            return true;
        }
    }

    /** Waits until no delivery is under way, but those of the calling thread itself. */
    void awaitDeliveries() {
        Thread me = Thread.currentThread();
        boolean interrupted = false;
        synchronized (lock) {
            while (delivering.stream().anyMatch(t -> t != me)) {
                try {
                    lock.wait();
                } catch (InterruptedException e) {
                    interrupted = true;  // the wait is short; the interrupt is kept for the caller
                }
            }
        }
        if (interrupted) {
            me.interrupt();
        }
    }
}
