package jtrazelo.simulator;

import java.util.Locale;
import java.util.Objects;
import puente.ScanMontura;

/**
 * The bench of the simulated {@code ScanMontura} component, driven from Java: type into its edit
 * control as a person would, choose the frame in the tracer of each port, empty a tracer, and make
 * the device fail. For trying a program without a tracer; the real component has none of this.
 *
 * <pre>{@code
 * try (ScanMontura component = ScanMontura.create();
 *      IScanMontura control = component.dispatch();
 *      Registration keys = component.onKeyPress(key -> {
 *          if (key.hasKey() && key.key() == '#') key.swallow();   // the control never sees '#'
 *      });
 *      SimulatedBench bench = SimulatedBench.of(component)) {
 *     bench.typeText("ab#c");                      // OnKeyPress per key, then OnChange
 *     System.out.println(control.getText());       // abc
 *     bench.setFrame(1, SimulatedBench.Frame.AVIATOR);
 *     bench.emptyTracer(2);                        // a scan on port 2 fails: no frame
 *     bench.failMember("Explora", SimulatedBench.E_FAIL, "the tracer is jammed");
 * }
 * }</pre>
 *
 * <p>The bench ships in its own jar, {@code scanmontura-sim.jar}, with its own native library
 * ({@code ScanMonturaSimJava}, beside the others on {@code java.library.path}); it needs the
 * simulated component registered as the {@code ScanMontura} class and reaches it directly, so the
 * component must live in the caller's process and apartment (registered {@code Both}, the
 * simulator's default).
 *
 * <p>Every method may be called from any thread, from inside an event listener too. Closing the
 * bench gives back its reference to the component; it does not close the component. After
 * {@link #close()} (any number of calls), the other methods throw {@link IllegalStateException}.
 */
public final class SimulatedBench implements AutoCloseable {
    static {
        System.loadLibrary("ScanMonturaSimJava");
    }

    /** Every port at once, for {@link #setFrame(int, Frame)} and its siblings. */
    public static final int EVERY_PORT = 0;
    /** The HRESULT {@code E_FAIL}, for {@link #failMember(String, int, String)}. */
    public static final int E_FAIL = 0x80004005;
    /** The HRESULT {@code DISP_E_UNKNOWNNAME}: no member of that name. */
    private static final int DISP_E_UNKNOWNNAME = 0x80020006;
    /** The HRESULT {@code E_INVALIDARG}. */
    private static final int E_INVALIDARG = 0x80070057;

    /** The frames of the simulated bench (their sizes are in the bundle's README). */
    public enum Frame {
        /** 52 x 38 mm, DBL 18: the bench's frame on ports 1, 5, 9, 13. */
        RECTANGULAR,
        /** 50 x 36 mm, DBL 17: ports 2, 6, 10, 14. */
        OVAL,
        /** About 56 x 48 mm, DBL 19, not symmetric: ports 3, 7, 11, 15. */
        AVIATOR,
        /** 50 x 34 mm, DBL 20, two drill holes: ports 4, 8, 12, 16. */
        RIMLESS;

        String settingName() {
            return name().toLowerCase(Locale.ROOT);
        }
    }

    private final Object lock = new Object();
    private long control;  // ISimControl*, with the bench's own reference; 0 once closed

    private SimulatedBench(long control) {
        this.control = control;
    }

    /**
     * Reaches the bench of a simulated component.
     *
     * @param component the component, bound
     * @return the bench, to close when done
     * @throws IllegalStateException when {@code component} is closed (or was never bound)
     * @throws IllegalArgumentException when {@code component} is not the simulated component
     *     (the real one is registered, or the simulated one lives in another apartment)
     */
    public static SimulatedBench of(ScanMontura component) {
        Objects.requireNonNull(component, "component");
        if (!component.isBound()) {
            throw new IllegalStateException("SimulatedBench: the ScanMontura component is closed");
        }
        long control = attach(component);
        if (control == 0) {
            throw new IllegalArgumentException("SimulatedBench: the component is not the simulated "
                    + "ScanMontura in this process (is the simulator registered, as Both?)");
        }
        return new SimulatedBench(control);
    }

    /**
     * Types text into the edit control as a person would: for each character an
     * {@code OnKeyPress} event, whose listeners may change or swallow the key, then the key the
     * listeners left goes into the text at the caret (backspace deletes), with an
     * {@code OnChange} event. Returns when every listener has had its events.
     *
     * @param text what to type
     * @throws IllegalStateException when the bench is closed, or the control is read-only
     */
    public void typeText(String text) {
        Objects.requireNonNull(text, "text");
        long c = acquire();
        try {
            check(typeText(c, text), "typing");
        } finally {
            release(c);
        }
    }

    /**
     * Puts a frame in the tracer of a port, for the scans that start from now on.
     *
     * @param port the port, 1 to 16, or {@link #EVERY_PORT}
     * @param frame the frame
     * @throws IllegalArgumentException when the port is out of range
     * @throws IllegalStateException when the bench is closed
     */
    public void setFrame(int port, Frame frame) {
        Objects.requireNonNull(frame, "frame");
        choose(port, frame.settingName());
    }

    /**
     * Empties the tracer of a port: scans there run their course and fail, the component reporting
     * "Scan failed: no frame in the tracer" (for the tracer API a {@code ScanFailedException}
     * with reason {@code NO_FRAME}).
     *
     * @param port the port, 1 to 16, or {@link #EVERY_PORT}
     * @throws IllegalArgumentException when the port is out of range
     * @throws IllegalStateException when the bench is closed
     */
    public void emptyTracer(int port) {
        choose(port, "none");
    }

    /**
     * Gives a port back the frame the bench holds there by itself: its own frame of that port, or
     * the one the environment variable {@code SCANMONTURA_SIM_FRAME} names.
     *
     * @param port the port, 1 to 16, or {@link #EVERY_PORT}
     * @throws IllegalArgumentException when the port is out of range
     * @throws IllegalStateException when the bench is closed
     */
    public void restoreFrame(int port) {
        choose(port, null);
    }

    private void choose(int port, String frame) {
        if (port < 0 || port > 16) {
            throw new IllegalArgumentException("SimulatedBench: port must be 1 to 16, or 0 for every port: " + port);
        }
        long c = acquire();
        try {
            check(setFrame(c, port, frame), "choosing the frame of port " + port);
        } finally {
            release(c);
        }
    }

    /**
     * Makes the device fail: from now on every call of the named member of {@code IScanMontura}
     * ({@code "Explora"}, {@code "Status"}, {@code "PuertoComm"}...; any case) fails with
     * {@code hResult} and {@code description}, without doing anything. In Java the call throws
     * {@code ezjcom.JComException} with them.
     *
     * @param member the member's name, as the component knows it (without get/set)
     * @param hResult the failure, e.g. {@link #E_FAIL}; a failure code (negative)
     * @param description the component's description of the failure, or null for none
     * @throws IllegalArgumentException when the component has no such member, or {@code hResult}
     *     is no failure
     * @throws IllegalStateException when the bench is closed
     */
    public void failMember(String member, int hResult, String description) {
        Objects.requireNonNull(member, "member");
        if (hResult >= 0) {
            throw new IllegalArgumentException(String.format(Locale.ROOT,
                    "SimulatedBench: 0x%08X is no failure code", hResult));
        }
        setFailure(member, hResult, description);
    }

    /**
     * Makes the named member work again after {@link #failMember(String, int, String)}.
     *
     * @param member the member's name
     * @throws IllegalArgumentException when the component has no such member
     * @throws IllegalStateException when the bench is closed
     */
    public void restoreMember(String member) {
        Objects.requireNonNull(member, "member");
        setFailure(member, 0, null);
    }

    private void setFailure(String member, int hResult, String description) {
        long c = acquire();
        try {
            int hr = failMember(c, member, hResult, description);
            if (hr == DISP_E_UNKNOWNNAME) {
                throw new IllegalArgumentException("SimulatedBench: the component has no member " + member);
            }
            check(hr, "changing member " + member);
        } finally {
            release(c);
        }
    }

    /**
     * Gives back the bench's reference to the component. Idempotent; a call under way on another
     * thread finishes first on its own reference.
     */
    @Override
    public void close() {
        long c;
        synchronized (lock) {
            c = control;
            control = 0;
        }
        if (c != 0) {
            release(c);
        }
    }

    // A reference of the caller's own for one call.
    private long acquire() {
        synchronized (lock) {
            if (control == 0) {
                throw new IllegalStateException("SimulatedBench: the bench is closed");
            }
            addRef(control);
            return control;
        }
    }

    private static void check(int hr, String what) {
        if (hr >= 0) {
            return;
        }
        String text = String.format(Locale.ROOT, "SimulatedBench: %s failed (HRESULT 0x%08X)", what, hr);
        if (hr == E_INVALIDARG) {
            throw new IllegalArgumentException(text);
        }
        throw new IllegalStateException(text);
    }

    private static native long attach(ScanMontura component);

    private static native void addRef(long control);

    private static native void release(long control);

    private static native int typeText(long control, String text);

    private static native int setFrame(long control, int port, String frame);

    private static native int failMember(long control, String member, int hResult, String description);
}
