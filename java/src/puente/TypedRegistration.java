package puente;

import java.util.concurrent.atomic.AtomicBoolean;

/**
 * One typed listener registered on a component: a name-matched listener of its own, connected to
 * the component, that hands each event to the typed listener while the registration is open.
 */
final class TypedRegistration implements Registration {
    private final ScanMontura component;
    private final ScanMonturaListener listener;
    private final Sink sink = new Sink();
    private final AtomicBoolean open = new AtomicBoolean(true);

    TypedRegistration(ScanMontura component, ScanMonturaListener listener) {
        this.component = component;
        this.listener = listener;
    }

    void connect() {
        sink.connect(component);
    }

    @Override
    public void close() {
        if (!open.compareAndSet(true, false)) {
            return;
        }
        try {
            sink.disconnect();
        } finally {
            component.forget(this);
        }
    }

    @Override
    public boolean isOpen() {
        return open.get();
    }

    @Override
    public String toString() {
        return "Registration[" + listener + (open.get() ? ", open]" : ", closed]");
    }

    // The name-matched side; what the typed listener throws reaches the component's handler.
    private final class Sink extends IScanMonturaEvents {
        public void OnChange() {
            if (open.get()) {
                listener.onChange();
            }
        }

        public void OnClick() {
            if (open.get()) {
                listener.onClick();
            }
        }

        public void OnDblClick() {
            if (open.get()) {
                listener.onDblClick();
            }
        }

        public void OnKeyPress(byte[] key) {
            if (open.get()) {
                listener.onKeyPress(new KeyPress(key));
            }
        }

        @Override
        public void JComOnEventError(String eventName, String message) {
            EventErrors.report(component.eventErrorHandler(), eventName,
                    new EventDeliveryException(eventName, eventName + ": " + message));
        }

        @Override
        public void JComOnEventException(String eventName, Throwable exception) {
            EventErrors.report(component.eventErrorHandler(), eventName, exception);
        }
    }
}
