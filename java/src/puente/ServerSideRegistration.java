package puente;

import ezjcom.JComEventListener;
import ezjcom.Lifetime;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * A component's registration for server-side delivery of its events (see
 * {@link ScanMontura#enableServerSideEvents()}): the listener object that holds the server-side
 * sink, and the connection's cookie. {@link #close()} disconnects it, and so does closing the
 * component's wrapper; a component has at most one open registration at a time.
 */
public final class ServerSideRegistration implements Registration, Lifetime.Child {
    private final ComponentEvents events;
    private final ScanMontura relay;  // the wrapper the sink delivers to, bound to the component
    private final JComEventListener listener;
    private final int cookie;
    private final Lifetime parent;
    private final AtomicBoolean open = new AtomicBoolean(true);
    private final DeliveryGate deliveries;

    ServerSideRegistration(ComponentEvents events, ScanMontura relay, DeliveryGate deliveries,
            JComEventListener listener, int cookie, Lifetime parent) {
        this.events = events;
        this.deliveries = deliveries;
        this.relay = relay;
        this.listener = listener;
        this.cookie = cookie;
        this.parent = parent;
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
     * Disconnects server-side delivery and gives up the sink. Idempotent, in any order with
     * closing the component's wrapper (which closes this registration too); afterwards
     * {@link ScanMontura#enableServerSideEvents()} may register anew.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect
     */
    @Override
    public void close() {
        if (!open.compareAndSet(true, false)) {
            return;
        }
        deliveries.close();
        parent.disown(this);
        events.forget(this);
        try {
            relay.unadvise(listener, cookie);
        } finally {
            relay.close();
            deliveries.awaitDeliveries();
        }
    }


    /** Not for applications: the component's wrapper is being closed. */
    @Override
    public void endWithWrapper() {
        close();
    }

    /** Not for applications: whether the calling thread is delivering an event of this registration. */
    @Override
    public boolean deliveringOnThisThread() {
        return deliveries.deliveringOnThisThread();
    }

    @Override
    public boolean isOpen() {
        return open.get();
    }
}
