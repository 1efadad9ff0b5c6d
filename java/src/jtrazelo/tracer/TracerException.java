package jtrazelo.tracer;

import ezjcom.JComException;

/**
 * A failure of the tracer. Where the component reported it, the exception carries the component's
 * HRESULT and description; otherwise {@link #hResult()} is 0 and {@link #description()} null.
 */
public class TracerException extends Exception {
    private static final long serialVersionUID = 1L;

    private final int hResult;
    private final String description;

    /** A failure found by the tracer itself, without a component error. */
    public TracerException(String message) {
        super(message);
        this.hResult = 0;
        this.description = null;
    }

    /** A failure found by the tracer itself, caused by {@code cause}. */
    public TracerException(String message, Throwable cause) {
        super(message, cause);
        this.hResult = 0;
        this.description = null;
    }

    /**
     * A component error: {@code what} names the step that failed; the message adds the component's
     * description and the HRESULT.
     */
    public TracerException(String what, JComException cause) {
        super(message(what, cause.getHResult(), cause.getDescription()), cause);
        this.hResult = cause.getHResult();
        this.description = cause.getDescription();
    }

    private static String message(String what, int hResult, String description) {
        String hr = String.format("HRESULT 0x%08X", hResult);
        return description == null || description.isEmpty()
                ? what + " (" + hr + ")"
                : what + ": " + description + " (" + hr + ")";
    }

    /** Returns the component's HRESULT, or 0 when the component reported no error. */
    public int hResult() {
        return hResult;
    }

    /** Returns the component's description of the error, or null. */
    public String description() {
        return description;
    }

    /** Returns true when the component reported this failure (an HRESULT is known). */
    public boolean isDeviceError() {
        return hResult != 0;
    }
}
