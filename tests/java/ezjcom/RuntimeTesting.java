package ezjcom;

/**
 * Test access to the runtime library's journal of calls and forced outcomes. Part of the tests'
 * jar, not of the shipped one: its natives exist only in the test variant of the runtime library
 * (testlib/), which records every operation call while its journal is on (the default).
 */
public final class RuntimeTesting {
    static {
        System.loadLibrary("EZJcomLib18");
    }

    private RuntimeTesting() {}

    /** Returns the journal: one line per operation call, oldest first, each ending in a newline. */
    public static native String journal();

    /**
     * Clears the journal, every forced outcome, pending fatal errors and the record of the last
     * server-side event, and switches server-side delivery back on.
     */
    public static native void reset();

    /** Switches the journal on or off. */
    public static native void journalEnable(boolean on);

    /**
     * Makes the next {@code times} calls of operation {@code op} (e.g. "ezjcomInvokeHelper") return
     * {@code hr} without doing their work.
     */
    public static native void forceHresult(String op, int hr, int times);

    /**
     * Leaves a fatal error pending for the thread that makes the {@code nth} next call of
     * operation {@code op} (1 = the next one), after that call.
     */
    public static native void fatalAfter(String op, int nth);

    /** Returns how many com-id bindings are open: references held for Java fields, not yet given back. */
    public static native long openBindings();

    /** Returns how many connections the runtime made for event sinks and has not ended. */
    public static native long openConnections();
}
