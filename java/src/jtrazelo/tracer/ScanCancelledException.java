package jtrazelo.tracer;

/**
 * A scan stopped before it gave a trace because {@link Tracer#cancel()} or {@link Tracer#close()}
 * was called, or because the scanning thread was interrupted (its interrupt flag is set again
 * then). The device's scan was stopped and the tracer, unless closed, is ready for the next one.
 * Its {@link #reason()} is {@link ScanFailedException.Reason#CANCELLED}.
 */
public class ScanCancelledException extends ScanFailedException {
    private static final long serialVersionUID = 1L;

    /**
     * Makes the exception.
     *
     * @param message why the scan stopped
     */
    public ScanCancelledException(String message) {
        super(Reason.CANCELLED, message);
    }

    /**
     * Makes the exception.
     *
     * @param message why the scan stopped
     * @param cause what stopped it (an {@link InterruptedException}, say)
     */
    public ScanCancelledException(String message, Throwable cause) {
        super(Reason.CANCELLED, message, cause);
    }
}
