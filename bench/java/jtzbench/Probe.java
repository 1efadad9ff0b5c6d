package jtzbench;

/**
 * The baselines the bridge is measured against, as natives of the benchmark library
 * {@code jtzbench}. Every loop native makes {@code n} operations inside one native call and
 * returns the elapsed nanoseconds of the clock chosen with {@link #setClock(int)}, or a negative
 * value when an operation failed.
 */
final class Probe {
    static {
        // The runtime library first, from the library path, as ezjcom.JComObject loads it: the
        // benchmark library's own dependency on it is then met by that one (the shipped library
        // or the test variant, whichever the path names first).
        System.loadLibrary("EZJcomLib18");
        System.loadLibrary("jtzbench");
    }

    /** The wall clock. */
    static final int WALL = 0;
    /** The CPU time of the calling thread. */
    static final int THREAD_CPU = 1;
    /** The CPU time of the whole process (every thread). */
    static final int PROCESS_CPU = 2;

    /** Chooses the clock of {@link #now()} and of every loop native. */
    static native void setClock(int clock);

    /** The chosen clock, in nanoseconds. */
    static native long now();

    /**
     * Puts the calling thread in a single-threaded apartment or in the multithreaded one
     * ({@code CoInitializeEx}) for the rest of its life; returns the HRESULT.
     */
    static native int joinApartment(boolean singleThreaded);

    /** The cheapest native with a getter's shape (an instance method returning float). */
    native float empty();

    /** The binding read of a member native (com-id field ID and field) and nothing else. */
    native float readComId(Object wrapper);

    /** The use of the binding every member native takes (the runtime's enter and leave). */
    native float useComId(Object wrapper);

    /** {@code n} property gets of {@code dispid} by IDispatch::Invoke on the component. */
    static native long invokeGet(Object wrapper, int dispid, boolean clearResult, int n);

    /** {@code n} calls of the bridge's own getBoxH native from a C loop, on {@code wrapper}. */
    static native long bridgeGetBoxH(Object wrapper, int n);

    /** {@code n} property puts of one BSTR of {@code value} by IDispatch::Invoke. */
    static native long invokePutString(Object wrapper, int dispid, String value, int n);

    /** {@code n} property gets through the runtime's ezjcomInvokeHelper and fatal-error check. */
    static native long helperGet(Object wrapper, int dispid, boolean clearResult, int n);

    /** {@code n} conversions of a Java string into a BSTR argument, each freed. */
    static native long toBstr(String value, int n);

    /** {@code n} conversions of a BSTR result into a Java string. */
    static native long fromBstr(String value, int n);

    /** {@code n} conversions of an OLE_COLOR result into a java.awt.Color. */
    static native long toColor(int oleColor, int n);

    /**
     * {@code n} calls of {@code listener.OnChange()} from a new attached native thread, with the
     * method ID looked up once, or with class and method looked up and the pending exception asked
     * for at each call when {@code lookupEachCall}.
     */
    static native long rawUpcall(Object listener, int n, boolean lookupEachCall);

    /** {@code n} events {@code dispid} fired by the component on one new thread of its own. */
    static native long fireBurst(Object wrapper, int dispid, int n);

    /** The same burst delivered to a native sink that only counts (the component's own cost). */
    static native long fireNoopSink(Object wrapper, int dispid, int n);

    private Probe() {}

    /** An instance for {@link #empty()}. */
    static Probe instance() {
        return new Probe();
    }
}
