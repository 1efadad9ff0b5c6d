package jtrazelo.tracer;

import ezjcom.JComException;

/**
 * The tracer could not be made ready: the component could not be created or bound, refused the
 * port or a setting, or is not calibrated.
 */
public class DeviceNotReadyException extends TracerException {
    private static final long serialVersionUID = 1L;

    /**
     * A failure found by the tracer itself.
     *
     * @param message what went wrong
     */
    public DeviceNotReadyException(String message) {
        super(message);
    }

    /**
     * A component error in step {@code what}.
     *
     * @param what the step that failed
     * @param cause the component's error
     */
    public DeviceNotReadyException(String what, JComException cause) {
        super(what, cause);
    }
}
