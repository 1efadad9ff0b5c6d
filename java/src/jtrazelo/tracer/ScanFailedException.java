package jtrazelo.tracer;

import ezjcom.JComException;

/**
 * A scan did not give a trace: the component refused to start it, reported it failed, did not
 * finish it in time, or gave values that cannot be decoded.
 */
public class ScanFailedException extends TracerException {
    private static final long serialVersionUID = 1L;

    /** A failure found by the tracer itself. */
    public ScanFailedException(String message) {
        super(message);
    }

    /** A failure found by the tracer itself, caused by {@code cause}. */
    public ScanFailedException(String message, Throwable cause) {
        super(message, cause);
    }

    /** A component error in step {@code what}. */
    public ScanFailedException(String what, JComException cause) {
        super(what, cause);
    }
}
