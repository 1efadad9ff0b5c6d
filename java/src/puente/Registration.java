package puente;

/**
 * A registration of listeners for the component's events. {@link #close()} ends it: idempotent,
 * safe from any thread, the event thread included (a listener may end its own registration).
 * Once {@code close()} has returned, the registration's listeners are not called again; a typed
 * listener is not called once {@code close()} has begun, except by a call already under way.
 */
public interface Registration extends AutoCloseable {
    /**
     * Ends the registration. A second call, or a call racing the first, does nothing.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect (the listeners are
     *     not called again all the same)
     */
    @Override
    void close();

    /**
     * Returns true until {@link #close()} is called.
     *
     * @return whether the registration still delivers events
     */
    boolean isOpen();
}
