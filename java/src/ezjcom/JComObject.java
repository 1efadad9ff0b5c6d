package ezjcom;

/**
 * The Java side of a COM object: the base class of every wrapper.
 *
 * <p>A wrapper is bound while {@link #comId} holds the COM interface pointer of its object (as a
 * 32-bit value; 0 means unbound). The native bridge writes the field when it creates or binds the
 * object; this class neither adds nor releases COM references on it.
 *
 * <p>Events: a {@link JComEventListener} whose {@code eventId} holds an event sink is connected to
 * this object's event source with {@link #__JComAdvise(JComEventListener)} and disconnected with
 * {@link #__JComUnadvise(JComEventListener, int)}. With server-side delivery (on by default, see
 * {@link #__JComSetServerSideEvents(boolean)}) the events of a server-side sink reach
 * {@link #__JComServerSideEvent(String, String, Object[])}, which subclasses override.
 */
public class JComObject {
    static {
        // On Windows the JVM resolves a native only in the library that System.loadLibrary
        // opened, not in that library's dependencies: the runtime's own natives need this.
        System.loadLibrary("EZJcomLib18");
    }

    /** The COM interface pointer of the bound object, or 0. Written by the native bridge. */
    public int comId;

    /** Makes an unbound wrapper. */
    public JComObject() {}

    /** Returns true when this wrapper holds a COM interface pointer. */
    public boolean isBound() {
        return comId != 0;
    }

    /**
     * Connects the event sink held by {@code listener} to this object's connection point for the
     * sink's event interface. The sink tells which interface that is; this object must be bound
     * and must offer {@code IConnectionPointContainer}.
     *
     * @return the connection's cookie, for {@link #__JComUnadvise(JComEventListener, int)}
     * @throws NullPointerException "Listener has no event sink" when {@code listener} is null or
     *     its {@code eventId} is 0; "Uninitialized JComObject" when this wrapper is unbound
     * @throws JComException when the component refuses (the HRESULT of the failed step)
     */
    protected native int __JComAdvise(JComEventListener listener);

    /**
     * Disconnects a listener, and with its last connection ends its life as an event sink:
     * disconnects {@code cookie} (0: every connection made for the sink) from the component the
     * connection was made on, whatever this wrapper is bound to now; once the sink has no
     * connection left, sets {@code eventId} to 0 and gives up the sink's creation reference (the
     * one held through {@code listener.eventId}), so that the sink can be destroyed and the
     * listener collected. With {@code cookie} 0 and no connection, only the reference is given up
     * (for a listener that was never advised); this wrapper may then be unbound.
     *
     * <p>The reference is given up exactly once: only the listener whose field the sink was
     * connected through may give it up, and a second thread disconnecting the same listener at the
     * same time is refused, never let release it again. A disconnect that fails keeps the
     * connection, the reference and {@code eventId}, so that it can be tried again.
     *
     * @throws NullPointerException "Listener has no event sink" when {@code listener} is null or
     *     its {@code eventId} is 0 (nothing is done)
     * @throws IllegalStateException when another listener holds the sink (a copied
     *     {@code eventId}), or another thread is connecting or disconnecting it (nothing is done)
     * @throws JComException when disconnecting fails, or {@code cookie} is no connection of the
     *     sink (0x80040200, and nothing reaches any component); the sink and its connections stay
     */
    protected native void __JComUnadvise(JComEventListener listener, int cookie);

    /**
     * Switches server-side delivery of events on or off for the whole process. While it is off,
     * server-side sinks drop the events they receive.
     */
    public static native void __JComSetServerSideEvents(boolean on);

    /**
     * Receives one event of a server-side sink registered on this object. Called on the thread the
     * component fires from; does nothing here. An exception thrown by an override is reported to
     * this object's {@code JComOnEventException(String, Throwable)} where it has one.
     *
     * @param interfaceName the event interface's Java name (e.g. "puente.IScanMonturaEvents")
     * @param eventName the event's name
     * @param args the event's arguments, in order (empty for an event without any)
     */
    protected void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {}
}
