package puente;

/**
 * Receives the events of a {@link ScanMontura} registered for server-side delivery (see
 * {@link ScanMontura#registerServerSideEvents()}). Called on the thread the component fires from.
 */
@FunctionalInterface
public interface ServerSideListener {
    /**
     * One event of the component.
     *
     * @param eventName the event's name: "OnChange", "OnClick", "OnDblClick" or "OnKeyPress"
     * @param args the event's arguments as the runtime delivers them (none for the first three)
     */
    void onEvent(String eventName, Object[] args);
}
