package jtzfuzz;

import puente.IScanMonturaEvents;
import puente.ScanMontura;

/**
 * The Java side of the event sink's fuzzing target: listeners of each kind, what they are told to
 * do with the next event, and what they saw of it.
 */
public final class EventTargets {
    private EventTargets() {}

    // Failures the listeners report by default go to this logger: thousands a second here.
    private static final java.util.logging.Logger QUIET = java.util.logging.Logger.getLogger("puente.events");

    static {
        QUIET.setLevel(java.util.logging.Level.OFF);
    }

    // ---- What the next event's receiver does (set by the target before each event) ----
    /** The key a receiver of OnKeyPress writes into the array, or -1 to leave it. */
    public static int replaceKey = -1;
    /** The receiver throws after taking the event. */
    public static boolean fail;
    /** The error and exception callbacks throw too. */
    public static boolean failCallbacks;

    // ---- What it saw (read by the target after each event) ----
    public static int calls;
    public static boolean sawNullKey;
    public static byte sawKey;
    public static boolean changedKey;

    /** Clears what was seen. */
    public static void reset() {
        calls = 0;
        sawNullKey = false;
        sawKey = 0;
        changedKey = false;
    }

    static void event() {
        calls++;
        if (fail) {
            throw new IllegalStateException("listener failed");
        }
    }

    static void key(byte[] key) {
        calls++;
        sawNullKey = key == null;
        if (key != null) {
            sawKey = key[0];
            if (replaceKey >= 0) {
                key[0] = (byte) replaceKey;
                changedKey = true;
            }
        }
        if (fail) {
            throw new IllegalStateException("listener failed");
        }
    }

    static void callback() {
        if (failCallbacks) {
            throw new IllegalStateException("callback failed");
        }
    }

    /** Every method of the listener contract. */
    public static final class Full extends IScanMonturaEvents {
        public void OnChange() { event(); }
        public void OnClick() { event(); }
        public void OnDblClick() { event(); }
        public void OnKeyPress(byte[] key) { key(key); }
        public void JComOnEventError(String event, String message) { callback(); }
        public void JComOnEventException(String event, Throwable t) { callback(); }
    }

    /** No method at all. */
    public static final class Bare extends IScanMonturaEvents {}

    /** Methods of the right names with the wrong signatures, or static. */
    public static final class Odd extends IScanMonturaEvents {
        public void OnChange() { event(); }
        public static void OnClick() { event(); }
        public int OnDblClick() { event(); return 1; }
        public void OnKeyPress(int key) { event(); }
        public void JComOnEventError(String event) { callback(); }
        public void JComOnEventException(String event, Throwable t) { callback(); }
    }

    /** A component wrapper whose server-side events come here. */
    public static final class Component extends ScanMontura {
        @Override
        protected void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {
            if (args.length == 1 && (args[0] == null || args[0] instanceof byte[])) {
                key((byte[]) args[0]);
            } else {
                event();
            }
        }
    }

    private static final Object[] KEEP = new Object[5];

    /**
     * Makes one listener of each kind and a server-side registration on a new component.
     *
     * @return the event-id fields (the sinks): full, bare, odd, server-side
     */
    public static int[] sinks() {
        Full full = new Full();
        Bare bare = new Bare();
        Odd odd = new Odd();
        // The odd one reports its failures to a handler that may throw; the others log them.
        odd.setEventErrorHandler((event, failure) -> callback());
        full.listen();
        bare.listen();
        odd.listen();
        Component component = new Component();
        if (!component.__JComCreateObject(false, false)) {
            throw new IllegalStateException("no component");
        }
        Object[] registration = component.__RemoteEventAdd(ScanMontura.EVENT_INTERFACE);
        int serverSink = ((ezjcom.JComEventListener) registration[0]).eventId;
        KEEP[0] = full;
        KEEP[1] = bare;
        KEEP[2] = odd;
        KEEP[3] = component;
        KEEP[4] = registration;
        return new int[] {full.eventId, bare.eventId, odd.eventId, serverSink};
    }
}
