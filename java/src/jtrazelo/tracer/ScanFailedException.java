package jtrazelo.tracer;

import ezjcom.JComException;
import java.util.Objects;

/**
 * A scan did not give a trace. {@link #reason()} says why, for a program to act on:
 *
 * <pre>{@code
 * } catch (ScanFailedException e) {
 *     switch (e.reason()) {
 *         case NO_FRAME -> tellTheOperator("put a frame in the tracer");
 *         case TIMED_OUT -> tellTheOperator("the tracer did not finish");
 *         default -> tellTheOperator(e.getMessage());
 *     }
 * }
 * }</pre>
 */
public class ScanFailedException extends TracerException {
    private static final long serialVersionUID = 1L;

    /** Why a scan gave no trace. */
    public enum Reason {
        /** The component refused to start the scan (no port open, a scan already running...). */
        REFUSED,
        /**
         * The component reports a failed scan because the tracer holds no frame (its text says
         * "no frame", as in "Scan failed: no frame in the tracer").
         */
        NO_FRAME,
        /** The component reports a failed scan for a reason of its own; see {@link #description()}. */
        DEVICE_FAILED,
        /** The scan did not finish within its time-out, and was stopped. */
        TIMED_OUT,
        /** The scan finished, but its trace could not be read or decoded. */
        UNREADABLE_TRACE,
        /**
         * {@link Tracer#cancel()} or {@link Tracer#close()} stopped the scan, or its thread was
         * interrupted: always a {@link ScanCancelledException}.
         */
        CANCELLED,
    }

    /** Why the scan gave no trace. */
    private final Reason reason;

    /**
     * A failure found by the tracer itself.
     *
     * @param reason why the scan gave no trace
     * @param message what went wrong
     */
    public ScanFailedException(Reason reason, String message) {
        super(message);
        this.reason = Objects.requireNonNull(reason, "reason");
    }

    /**
     * A failure found by the tracer itself, caused by {@code cause}.
     *
     * @param reason why the scan gave no trace
     * @param message what went wrong
     * @param cause the underlying failure
     */
    public ScanFailedException(Reason reason, String message, Throwable cause) {
        super(message, cause);
        this.reason = Objects.requireNonNull(reason, "reason");
    }

    /**
     * A component error in step {@code what}.
     *
     * @param reason why the scan gave no trace
     * @param what the step that failed
     * @param cause the component's error
     */
    public ScanFailedException(Reason reason, String what, JComException cause) {
        super(what, cause);
        this.reason = Objects.requireNonNull(reason, "reason");
    }

    /**
     * A scan the component reports as failed, in its own words.
     *
     * @param reason why the scan gave no trace
     * @param what what failed
     * @param description the component's description (its text, e.g. "Scan failed: no frame in
     *     the tracer"), or null
     * @param hResult the HRESULT, or 0 for none
     */
    public ScanFailedException(Reason reason, String what, String description, int hResult) {
        super(what, description, hResult);
        this.reason = Objects.requireNonNull(reason, "reason");
    }

    /**
     * Returns why the scan gave no trace.
     *
     * @return the reason, never null
     */
    public Reason reason() {
        return reason;
    }
}
