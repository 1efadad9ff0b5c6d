package puente;

/**
 * An event that did not reach a listener's method: the listener has no method of the event's name
 * and signature, or has one whose name differs only in case (and so is never called).
 */
public class EventDeliveryException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /** The event's name. */
    private final String eventName;

    /**
     * Makes the exception.
     *
     * @param eventName the event's name, e.g. "OnChange"
     * @param message what went wrong
     */
    public EventDeliveryException(String eventName, String message) {
        super(message);
        this.eventName = eventName;
    }

    /**
     * Returns the name of the event that was not delivered.
     *
     * @return the event's name, e.g. "OnChange"
     */
    public String eventName() {
        return eventName;
    }
}
