package puente;

import ezjcom.Lifetime;
import java.util.concurrent.Executor;
import java.util.concurrent.RejectedExecutionException;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Consumer;

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
    private final Executor executor;  // null: on the thread the event arrives on
    private final Lifetime parent;
    private final Sink sink = new Sink();
    private final AtomicInteger state = new AtomicInteger(CONNECTING);
    private final DeliveryGate deliveries = new DeliveryGate();
    private volatile int cookie;

    private TypedRegistration(ComponentEvents events, ScanMonturaListener listener, Executor executor,
            Lifetime parent) {
        this.events = events;
        this.listener = listener;
        this.executor = executor;
        this.parent = parent;
    }

    /**
     * Registers {@code listener} on {@code component}. A close of the component's wrapper that
     * comes while the connection is being made undoes it, and this call then throws.
     */
    static TypedRegistration open(ScanMontura component, ScanMonturaListener listener, Executor executor) {
        TypedRegistration registration =
                new TypedRegistration(component.shared(), listener, executor, component.lifetime());
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

    // Calls the listener on this thread, or hands the call to the executor; either way only while
    // the registration is open, and what the listener throws goes to the component's handler.
    private void deliver(String eventName, Consumer<ScanMonturaListener> call) {
        if (executor == null) {
            if (state.get() == OPEN && deliveries.enter()) {
                try {
                    call.accept(listener);
                } finally {
                    deliveries.exit();
                }
            }
            return;
        }
        if (state.get() != OPEN) {
            return;
        }
        try {
            executor.execute(() -> {
                if (state.get() == OPEN && deliveries.enter()) {
                    try {
                        call.accept(listener);
                    } catch (Throwable e) {
                        events.report(eventName, e);
                    } finally {
                        deliveries.exit();
                    }
                }
            });
        } catch (RejectedExecutionException e) {
            events.report(eventName, e);
        }
    }

    // The name-matched side; what the typed listener throws reaches the component's handler.
    private final class Sink extends IScanMonturaEvents {
        public void OnChange() {
            deliver("OnChange", ScanMonturaListener::onChange);
        }

        public void OnClick() {
            deliver("OnClick", ScanMonturaListener::onClick);
        }

        public void OnDblClick() {
            deliver("OnDblClick", ScanMonturaListener::onDblClick);
        }

        public void OnKeyPress(byte[] key) {
            // Through an executor the listener runs after the control has applied the key: it
            // gets a copy, which it may change to no effect.
            KeyPress press = new KeyPress(executor == null || key == null ? key : key.clone());
            deliver("OnKeyPress", l -> l.onKeyPress(press));
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
