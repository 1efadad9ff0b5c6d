package puente;

import ezjcom.JComEventListener;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * A component's registration for server-side delivery of its events (see
 * {@link ScanMontura#enableServerSideEvents()}): the listener object that holds the server-side
 * sink, and the connection's cookie. {@link #close()} disconnects it; a component has at most one
 * open registration at a time.
 */
public final class ServerSideRegistration implements Registration {
    private final ScanMontura component;
    private final JComEventListener listener;
    private final int cookie;
    private final AtomicBoolean open = new AtomicBoolean(true);

    ServerSideRegistration(ScanMontura component, JComEventListener listener, int cookie) {
        this.component = component;
        this.listener = listener;
        this.cookie = cookie;
    }

    /**
     * Returns the listener object that holds the server-side sink.
     *
     * @return the listener, as {@link ScanMontura#__RemoteEventAdd(String)} made it
     */
    public JComEventListener listener() {
        return listener;
    }

    /**
     * Returns the connection's cookie.
     *
     * @return the cookie the component gave
     */
    public int cookie() {
        return cookie;
    }

    /** Returns {@code {listener, Integer cookie}}, the form {@link ScanMontura#__RemoteEventAdd(String)} gives. */
    Object[] asArray() {
        return new Object[] {listener, cookie};
    }

    /**
     * Disconnects server-side delivery and gives up the sink. Idempotent; afterwards
     * {@link ScanMontura#enableServerSideEvents()} may register anew.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect
     */
    @Override
    public void close() {
        if (!open.compareAndSet(true, false)) {
            return;
        }
        try {
            component.unadvise(listener, cookie);
        } finally {
            component.forget(this);
        }
    }

    @Override
    public boolean isOpen() {
        return open.get();
    }
}
