package puente;

/** Hands failures of event delivery to their handler without ever letting one escape. */
final class EventErrors {
    private EventErrors() {}

    /** Reports one failure to {@code handler} (null: the default), and to the default when it throws. */
    static void report(EventErrorHandler handler, String eventName, Throwable failure) {
        EventErrorHandler target = handler == null ? EventErrorHandler.LOG : handler;
        try {
            target.eventFailed(eventName, failure);
        } catch (RuntimeException | Error e) {
            if (target == EventErrorHandler.LOG) {
                return;  // nowhere left to report to, and nothing may reach the component
            }
            failure.addSuppressed(e);
            EventErrorHandler.LOG.eventFailed(eventName, failure);
        }
    }
}
