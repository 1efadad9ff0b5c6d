package jtztests.wrappers;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.lang.ref.WeakReference;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import org.junit.jupiter.api.Test;
import puente.IScanMontura;
import puente.IScanMonturaEvents;
import puente.ScanMontura;

/** Event listeners as a Java developer writes them, against the simulated component. */
class ListenerTest {
    private final ScanMontura component = ScanMontura.create();
    private final IScanMontura control = component.dispatch();

    @Test
    void connectedListenerHearsChanges() throws Exception {
        Events.Listener listener = new Events.Listener();
        int cookie = listener.connect(component);
        assertTrue(cookie > 0);
        assertEquals(cookie, listener.cookie());
        control.setText("abc");
        assertEquals("OnChange", listener.next().name());
        listener.disconnect();
        assertFalse(listener.isConnected());
        assertEquals(0, listener.eventId, "the sink is given up");
    }

    @Test
    void eachConnectionHasItsOwnCookie() {
        Events.Listener one = new Events.Listener();
        Events.Listener two = new Events.Listener();
        assertNotEquals(one.connect(component), two.connect(component));
        assertThrows(IllegalStateException.class, () -> one.connect(component));
        one.disconnect();
        two.disconnect();
    }

    /** A listener that declares only the error callback. */
    public static class ErrorOnly extends IScanMonturaEvents {
        final BlockingQueue<String> errors = new LinkedBlockingQueue<>();

        public void JComOnEventError(String eventName, String message) {
            errors.add(eventName + ": " + message);
        }
    }

    @Test
    void listenerWithoutTheEventsMethodHearsTheError() throws Exception {
        ErrorOnly listener = new ErrorOnly();
        listener.connect(component);
        control.setText("x");
        String error = listener.errors.poll(Events.PATIENCE_SECONDS, java.util.concurrent.TimeUnit.SECONDS);
        assertEquals("OnChange: Unable to locate method", error);
        listener.disconnect();
    }

    @Test
    void exceptionOfAnEventMethodReachesTheExceptionCallback() throws Exception {
        IllegalStateException thrown = new IllegalStateException("listener failed");
        Events.Listener listener = new Events.Listener() {
            @Override
            public void OnChange() {
                throw thrown;
            }
        };
        listener.connect(component);
        control.setText("boom");
        Events.Seen seen = listener.next();
        assertEquals("JComOnEventException", seen.name());
        assertEquals("OnChange", seen.args()[0]);
        assertSame(thrown, seen.args()[1]);
        // The component goes on delivering after a listener's failure.
        control.setText("again");
        assertEquals("JComOnEventException", listener.next().name());
        listener.disconnect();
    }

    @Test
    void disconnectedListenerHearsNothingMore() throws Exception {
        Events.Listener gone = new Events.Listener();
        Events.Listener staying = new Events.Listener();
        gone.connect(component);
        staying.connect(component);
        control.setText("both");
        assertEquals("OnChange", gone.next().name());
        assertEquals("OnChange", staying.next().name());
        gone.disconnect();
        control.setText("one");
        // Both sinks are called for one event in turn: once the staying one has it, the other would have too.
        assertEquals("OnChange", staying.next().name());
        assertNull(gone.seen.poll());
        staying.disconnect();
    }

    @Test
    void disconnectedListenerCanBeCollected() throws Exception {
        WeakReference<Events.Listener> ref = connectAndDisconnect();
        for (int i = 0; i < 50 && ref.get() != null; i++) {
            System.gc();
            Thread.sleep(20);
        }
        assertNull(ref.get(), "the native sink still holds the listener");
    }

    private WeakReference<Events.Listener> connectAndDisconnect() throws Exception {
        Events.Listener listener = new Events.Listener();
        listener.connect(component);
        control.setText("once");
        listener.next();
        listener.disconnect();
        return new WeakReference<>(listener);
    }

    @Test
    void listenerThatOnlyListenedGivesUpItsSink() {
        Events.Listener listener = new Events.Listener();
        listener.listen();
        assertNotEquals(0, listener.eventId);
        listener.disconnect();
        assertEquals(0, listener.eventId);
        listener.disconnect();  // nothing left to do
    }
}
