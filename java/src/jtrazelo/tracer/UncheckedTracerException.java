package jtrazelo.tracer;

import java.util.Objects;

/**
 * A {@link TracerException} where no checked exception may be thrown: from {@link Tracer#close()},
 * so that a try-with-resources on a tracer needs no catch clause for closing. The failure itself,
 * with its HRESULT and description, is {@link #getCause()}.
 */
public class UncheckedTracerException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /**
     * Wraps a failure.
     *
     * @param cause the failure
     */
    public UncheckedTracerException(TracerException cause) {
        super(Objects.requireNonNull(cause, "cause").getMessage(), cause);
    }

    /**
     * Returns the failure.
     *
     * @return the wrapped {@link TracerException}
     */
    @Override
    public synchronized TracerException getCause() {
        return (TracerException) super.getCause();
    }
}
