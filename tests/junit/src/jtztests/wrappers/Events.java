package jtztests.wrappers;

import static org.junit.jupiter.api.Assertions.fail;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import puente.ScanMonturaAdapter;
import puente.ServerSideListener;

/** Event recorders for the tests: events arrive on the component's thread, tests wait for them. */
final class Events {
    /** Events are awaited this long before a test gives up (a safeguard, not a measurement). */
    static final long PATIENCE_SECONDS = 20;
    /** Whether the simulated component fires a member call's OnChange inside the call. */
    static final boolean FIRED_IN_CALL = "in-call".equals(System.getenv("SCANMONTURA_SIM_EVENTS"));

    private Events() {}

    record Seen(String name, Object[] args) {}

    static Seen take(BlockingQueue<Seen> queue) throws InterruptedException {
        Seen seen = queue.poll(PATIENCE_SECONDS, TimeUnit.SECONDS);
        if (seen == null) {
            fail("no event arrived");
        }
        return seen;
    }

    /** Records server-side events. */
    static final class Recorder implements ServerSideListener {
        final BlockingQueue<Seen> seen = new LinkedBlockingQueue<>();

        @Override
        public void onEvent(String eventName, Object[] args) {
            seen.add(new Seen(eventName, args.clone()));
        }

        Seen next() throws InterruptedException {
            return take(seen);
        }
    }

    /** Records what a direct-delivery listener hears, callbacks included. */
    static class Listener extends ScanMonturaAdapter {
        final BlockingQueue<Seen> seen = new LinkedBlockingQueue<>();
        final List<Throwable> exceptions = new ArrayList<>();

        @Override
        public void OnChange() {
            seen.add(new Seen("OnChange", new Object[0]));
        }

        @Override
        public void OnClick() {
            seen.add(new Seen("OnClick", new Object[0]));
        }

        @Override
        public void JComOnEventError(String eventName, String message) {
            seen.add(new Seen("JComOnEventError", new Object[] {eventName, message}));
        }

        @Override
        public void JComOnEventException(String eventName, Throwable exception) {
            synchronized (exceptions) {
                exceptions.add(exception);
            }
            seen.add(new Seen("JComOnEventException", new Object[] {eventName, exception}));
        }

        Seen next() throws InterruptedException {
            return take(seen);
        }
    }
}
