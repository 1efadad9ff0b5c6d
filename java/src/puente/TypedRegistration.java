package puente;

import ezjcom.Lifetime;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * One typed listener registered on a component: a name-matched listener of its own, connected to
 * the component, that hands each event to the typed listener while the registration is open. It is
 * a child of the component wrapper's {@link Lifetime}: closing the wrapper closes it, and it refers
 * to the wrapper only while connecting, so that its sink never keeps the wrapper reachable.
 */
final class TypedRegistration implements Registration, Lifetime.Child {
    private static final int CONNECTING = 0;
    private static final int OPEN = 1;
    private static final int CLOSED = 2;

    private final ComponentEvents events;
    private final ScanMonturaListener listener;
    private final Lifetime parent;
    private final Sink sink = new Sink();
    private final AtomicInteger state = new AtomicInteger(CONNECTING);
    private final DeliveryGate deliveries = new DeliveryGate();
    private volatile int cookie;

    private TypedRegistration(ComponentEvents events, ScanMonturaListener listener, Lifetime parent) {
        this.events = events;
        this.listener = listener;
        this.parent = parent;
    }

    /**
     * Registers {@code listener} on {@code component}. A close of the component's wrapper that
     * comes while the connection is being made undoes it, and this call then throws.
     */
    static TypedRegistration open(ScanMontura component, ScanMonturaListener listener) {
        TypedRegistration registration =
                new TypedRegistration(component.shared(), listener, component.lifetime());
        if (!registration.parent.adopt(registration)) {
            throw component.closedMeanwhile(null);
        }
        try {
            registration.sink.listen();
            registration.cookie = component.advise(registration.sink);
        } catch (RuntimeException | Error e) {
            registration.state.set(CLOSED);
            registration.parent.disown(registration);
            try {
                registration.sink.giveUp(0);  // the sink's own reference; nothing was connected
            } catch (RuntimeException cleanup) {
                e.addSuppressed(cleanup);
            }
            if (component.isClosed()) {
                throw component.closedMeanwhile(e);
            }
            throw e;
        }
        if (!registration.state.compareAndSet(CONNECTING, OPEN)) {
            // The wrapper was closed while connecting: the connection made since goes again.
            registration.sink.giveUp(registration.cookie);
            throw component.closedMeanwhile(null);
        }
        return registration;
    }

    @Override
    public void close() {
        int was = state.getAndSet(CLOSED);
        if (was == CLOSED) {
            return;
        }
        deliveries.close();
        parent.disown(this);
        try {
            if (was == OPEN) {
                sink.giveUp(cookie);
            }
            // CONNECTING: the thread making the connection undoes it when it sees CLOSED.
        } finally {
            deliveries.awaitDeliveries();
        }
    }

    @Override
    public void endWithWrapper() {
        close();
    }

    @Override
    public boolean deliveringOnThisThread() {
        return deliveries.deliveringOnThisThread();
    }

    @Override
    public boolean isOpen() {
        return state.get() == OPEN;
    }

    @Override
    public String toString() {
        return "Registration[" + listener + (isOpen() ? ", open]" : ", closed]");
    }

    // The name-matched side; what the typed listener throws reaches the component's handler.
    private final class Sink extends IScanMonturaEvents {
        public void OnChange() {
            if (open()) {
                try {
                    listener.onChange();
                } finally {
                    deliveries.exit();
                }
            }
        }

        public void OnClick() {
            if (open()) {
                try {
                    listener.onClick();
                } finally {
                    deliveries.exit();
                }
            }
        }

        public void OnDblClick() {
            if (open()) {
                try {
                    listener.onDblClick();
                } finally {
                    deliveries.exit();
                }
            }
        }

        public void OnKeyPress(byte[] key) {
            if (open()) {
                try {
                    listener.onKeyPress(new KeyPress(key));
                } finally {
                    deliveries.exit();
                }
            }
        }

        // Starts a delivery while the registration is open.
        private boolean open() {
            return state.get() == OPEN && deliveries.enter();
        }

        @Override
        public void JComOnEventError(String eventName, String message) {
            events.report(eventName, new EventDeliveryException(eventName, eventName + ": " + message));
        }

        @Override
        public void JComOnEventException(String eventName, Throwable exception) {
            events.report(eventName, exception);
        }
    }
}
