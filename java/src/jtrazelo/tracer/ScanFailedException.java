package jtrazelo.tracer;

import ezjcom.JComException;

/**
 * A scan did not give a trace: the component refused to start it, reported it failed, did not
 * finish it in time, or gave values that cannot be decoded.
 */
public class ScanFailedException extends TracerException {
    private static final long serialVersionUID = 1L;

    /**
     * A failure found by the tracer itself.
     *
     * @param message what went wrong
     */
    public ScanFailedException(String message) {
        super(message);
    }

    /**
     * A failure found by the tracer itself, caused by {@code cause}.
     *
     * @param message what went wrong
     * @param cause the underlying failure
     */
    public ScanFailedException(String message, Throwable cause) {
        super(message, cause);
    }

    /**
     * A component error in step {@code what}.
     *
     * @param what the step that failed
     * @param cause the component's error
     */
    public ScanFailedException(String what, JComException cause) {
        super(what, cause);
    }

    /**
     * A scan the component reports as failed, in its own words.
     *
     * @param what what failed
     * @param description the component's description (its text, e.g. "Scan failed: no frame in
     *     the tracer"), or null
     * @param hResult the HRESULT, or 0 for none
     */
    public ScanFailedException(String what, String description, int hResult) {
        super(what, description, hResult);
    }
}
