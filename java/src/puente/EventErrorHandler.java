package puente;

/**
 * Receives what goes wrong while an event of the component is delivered to Java: an exception
 * thrown by a listener, or an event that a listener has no method for (an
 * {@link EventDeliveryException}). Called on the thread that delivers the event, which is the
 * component's, not the one that registered the listener.
 *
 * <p>Every listener and component starts with {@link #LOG}; set another with
 * {@link ScanMontura#setEventErrorHandler(EventErrorHandler)} (typed listeners and server-side
 * delivery) or {@link IScanMonturaEvents#setEventErrorHandler(EventErrorHandler)} (a listener
 * subclass). A handler that throws is itself reported to {@link #LOG}.
 *
 * <pre>{@code
 * component.setEventErrorHandler((event, failure) -> failures.add(failure));
 * }</pre>
 */
@FunctionalInterface
public interface EventErrorHandler {
    /**
     * Reports each failure as a warning, with its stack trace, to the {@link System.Logger} named
     * {@code "puente.events"} (by default java.util.logging, which writes to standard error).
     */
    EventErrorHandler LOG = (eventName, failure) -> System.getLogger("puente.events")
            .log(System.Logger.Level.WARNING, "ScanMontura event " + eventName + " failed", failure);

    /**
     * One event could not be delivered as it should.
     *
     * @param eventName the event's name: "OnChange", "OnClick", "OnDblClick" or "OnKeyPress"
     * @param failure what the listener threw, or an {@link EventDeliveryException} that says why
     *     the event did not reach it
     */
    void eventFailed(String eventName, Throwable failure);
}
