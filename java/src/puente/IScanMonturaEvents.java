package puente;

import ezjcom.JComEventListener;
import ezjcom.JComObject;

/**
 * The event interface of the {@link ScanMontura} component, and the base class of its event
 * listeners.
 *
 * <p><b>Listener contract.</b> This class declares no event methods: the bridge looks each event's
 * method up by name and signature on the listener's run-time class (inherited methods included)
 * every time the event arrives. A listener offers, as public instance methods returning void:
 *
 * <ul>
 *   <li>{@code OnChange()}, {@code OnClick()}, {@code OnDblClick()}: the event of that name;
 *   <li>{@code OnKeyPress(byte[] key)}: a key typed into the control, as a one-element array
 *       when the key fits one byte without loss: its character code is {@code key[0] & 0xFF}
 *       (0 to 255: ASCII and Latin-1). A key beyond that (say 'š', U+0161) arrives as a null
 *       array, never truncated. Writing another value into {@code key[0]} changes the key the
 *       control receives, and 0 swallows it; a key that arrived as null is left as it was;
 *   <li>{@code JComOnEventError(String eventName, String message)}: called instead of an event's
 *       method when the listener has none ("Unable to locate method");
 *   <li>{@code JComOnEventException(String eventName, Throwable exception)}: called with the
 *       exception an event method threw.
 * </ul>
 *
 * <p>A listener without a method simply does not receive that event (nor the error, if it lacks
 * {@code JComOnEventError}); exceptions never reach the component. Events arrive on the
 * component's own thread, not on the thread that connected the listener. {@link ScanMonturaAdapter}
 * declares all six methods with empty bodies.
 *
 * <pre>{@code
 * IScanMonturaEvents listener = new ScanMonturaAdapter() {
 *     public void OnChange() { System.out.println("changed"); }
 * };
 * listener.connect(component);   // listen() + advise
 * ...
 * listener.disconnect();         // unadvise, and the listener can be collected
 * }</pre>
 *
 * <p>A listener keeps itself reachable from native code between {@link #listen()} and
 * {@link #disconnect()}.
 */
public class IScanMonturaEvents extends JComEventListener {
    static {
        System.loadLibrary("JTrazelo");
    }

    // Guards the connection; a lock of its own, so that a listener's synchronized event methods
    // never wait for a thread that is connecting or disconnecting it.
    private final Object connection = new Object();
    private ScanMontura connectedTo;
    private int cookie;

    /** Makes a listener (or an unbound event-interface wrapper). */
    public IScanMonturaEvents() {}

    /**
     * Binds this wrapper to the event interface of the object behind {@code source}, or to its
     * {@code IDispatch} when {@code allowDispatch} is true and the interface is not offered.
     *
     * @return true when bound; false, without an exception, when the binding failed
     */
    public native boolean __JComLoad(JComObject source, boolean allowDispatch);

    /** Gives this object an event sink of its own so that it can receive events; always true. */
    public native boolean __JComEventListenerInit();

    /** Makes this object a listener (see {@link #__JComEventListenerInit()}). */
    public void listen() {
        __JComEventListenerInit();
        if (eventId == 0) {
            throw new IllegalStateException("IScanMonturaEvents: no event sink could be made");
        }
    }

    /**
     * Connects this listener to the events of {@code component}, making it a listener first where
     * {@link #listen()} has not run yet.
     *
     * @return the connection's cookie
     * @throws IllegalStateException when the listener is connected already
     * @throws ezjcom.JComException when the component refuses the connection
     */
    public int connect(ScanMontura component) {
        synchronized (lock()) {
            if (connectedTo != null) {
                throw new IllegalStateException("IScanMonturaEvents: the listener is connected already");
            }
            if (eventId == 0) {
                listen();
            }
            int newCookie = component.advise(this);
            connectedTo = component;
            cookie = newCookie;
            return newCookie;
        }
    }

    /** Returns the cookie of the current connection, or 0 when not connected. */
    public int cookie() {
        synchronized (lock()) {
            return cookie;
        }
    }

    /** Returns true while {@link #connect(ScanMontura)} holds a connection. */
    public boolean isConnected() {
        synchronized (lock()) {
            return connectedTo != null;
        }
    }

    /**
     * Disconnects this listener from the component and gives up its event sink, so that the
     * listener can be collected. Does nothing for a listener that is neither connected nor
     * listening; a listener that only listened gives up its sink.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect (the sink is given up
     *     all the same)
     */
    public void disconnect() {
        synchronized (lock()) {
            ScanMontura component = connectedTo;
            int oldCookie = cookie;
            connectedTo = null;
            cookie = 0;
            if (component != null) {
                component.unadvise(this, oldCookie);
            } else if (eventId != 0) {
                // Never advised: only the sink's creation reference is given up, through any wrapper.
                new ScanMontura().unadvise(this, 0);
            }
        }
    }

    // A listener made without running a constructor (__JComNewObj) has no lock object.
    private Object lock() {
        return connection != null ? connection : this;
    }
}
