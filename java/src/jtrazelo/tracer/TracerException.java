package jtrazelo.tracer;

import ezjcom.JComException;

/**
 * A failure of the tracer. Where the component reported it, the exception carries the component's
 * own description and, for a failed COM call, its HRESULT; otherwise {@link #hResult()} is 0 and
 * {@link #description()} null.
 */
public class TracerException extends Exception {
    private static final long serialVersionUID = 1L;

    /** The component's HRESULT, or 0. */
    private final int hResult;
    /** The component's description, or null. */
    private final String description;

    /**
     * A failure found by the tracer itself, without a component error.
     *
     * @param message what went wrong
     */
    public TracerException(String message) {
        super(message);
        this.hResult = 0;
        this.description = null;
    }

    /**
     * A failure found by the tracer itself, caused by {@code cause}.
     *
     * @param message what went wrong
     * @param cause the underlying failure
     */
    public TracerException(String message, Throwable cause) {
        super(message, cause);
        this.hResult = 0;
        this.description = null;
    }

    /**
     * A component error: {@code what} names the step that failed; the message adds the component's
     * description and the HRESULT.
     *
     * @param what the step that failed, e.g. "opening port 3"
     * @param cause the component's error
     */
    public TracerException(String what, JComException cause) {
        super(message(what, cause.getHResult(), cause.getDescription()), cause);
        this.hResult = cause.getHResult();
        this.description = cause.getDescription();
    }

    /**
     * A failure the component reported in its own words rather than by a failed call (a scan it
     * reports as failed, for example); the message adds the description, and the HRESULT where
     * there is one.
     *
     * @param what what failed
     * @param description the component's own description, or null
     * @param hResult the HRESULT, or 0 for none
     */
    public TracerException(String what, String description, int hResult) {
        super(message(what, hResult, description));
        this.hResult = hResult;
        this.description = description == null || description.isEmpty() ? null : description;
    }

    private static String message(String what, int hResult, String description) {
        boolean described = description != null && !description.isEmpty();
        if (hResult == 0) {
            return described ? what + ": " + description : what;
        }
        String hr = String.format("HRESULT 0x%08X", hResult);
        return described ? what + ": " + description + " (" + hr + ")" : what + " (" + hr + ")";
    }

    /**
     * Returns the component's HRESULT.
     *
     * @return the HRESULT, or 0 when the component reported no failed call
     */
    public int hResult() {
        return hResult;
    }

    /**
     * Returns the component's description of the failure.
     *
     * @return the description, or null
     */
    public String description() {
        return description;
    }

    /**
     * Returns true when a failed call of the component caused this failure (an HRESULT is known).
     *
     * @return whether {@link #hResult()} is not 0
     */
    public boolean isDeviceError() {
        return hResult != 0;
    }
}
