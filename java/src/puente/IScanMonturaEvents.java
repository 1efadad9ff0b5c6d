package puente;

import ezjcom.JComEventListener;
import ezjcom.JComObject;
import ezjcom.Lifetime;
import ezjcom.NativeLibrary;
import java.lang.ref.WeakReference;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.List;
import java.util.Objects;

/**
 * The event interface of the {@link ScanMontura} component, and the base class of its
 * name-matched event listeners. Most programs are better served by the typed listeners of
 * {@link ScanMonturaListener}, registered with {@link ScanMontura#addListener(ScanMonturaListener)}.
 *
 * <p><b>Listener contract.</b> The bridge looks each event's method up by name and signature on the
 * listener's run-time class (inherited methods included) every time the event arrives. A listener
 * offers, as instance methods returning void:
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
 * <p>This class declares the two callbacks: both hand the failure to the listener's
 * {@link EventErrorHandler} ({@link EventErrorHandler#LOG} unless another is set), so that a
 * missing method or a listener's exception is never lost. {@link #listen()} also reports, the same
 * way, a method whose name differs from an event's only in case ({@code onChange()}), since the
 * bridge never calls it. Exceptions never reach the component. Events arrive on the threads
 * described below, never on the thread that connected the listener as such.
 * {@link ScanMonturaAdapter} declares the four event methods with empty bodies.
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
 * {@link #disconnect()}. Connecting and disconnecting may happen on any thread; no lock of the
 * listener is held while the component is called, so {@link #cookie()} and {@link #isConnected()}
 * may be called from inside an event while another thread disconnects.
 *
 * <h2 id="threads">Threads</h2>
 *
 * <p>These rules hold for every listener of the component: subclasses of this class, typed
 * listeners ({@link ScanMontura#addListener(ScanMonturaListener)}, {@link
 * ScanMontura#onChange(Runnable)} and its siblings) and server-side listeners. The runtime makes
 * every COM call in the multithreaded apartment (MTA): a thread in no apartment (any Java thread
 * the program did not initialise) or in the MTA makes the call itself; a thread in a
 * single-threaded apartment (STA; a GUI thread initialised with {@code
 * CoInitializeEx(COINIT_APARTMENTTHREADED)}) has one of the runtime's worker threads make it
 * while it waits. An event arrives on the thread the component fires it on, as follows.
 *
 * <ul>
 *   <li><b>A component of threading model {@code Both}</b> (or {@code Free}; created in the MTA
 *       and called directly):
 *       <ul>
 *         <li>an event fired <em>inside the call that caused it</em> (many controls fire
 *             {@code OnChange} from inside {@code setText}) arrives on the thread that made the
 *             COM call, before the call returns: the caller's own thread when it is in no
 *             apartment or in the MTA; for a caller in an STA, the runtime's worker thread
 *             making the call for it, while the caller waits;
 *         <li>an event the component fires later from a thread of its own (queued: the progress
 *             of a scan, or every event of a component that queues them) arrives on that thread,
 *             whoever made the call.
 *       </ul>
 *   <li><b>A component of threading model {@code Apartment}</b> (Windows; COM puts it in an STA
 *       of its own and the runtime calls it through a proxy): the control fires every event on
 *       its own thread, and the event reaches the listener on one of COM's threads in the MTA,
 *       never on the caller's; an event fired inside a call still arrives before that call
 *       returns.
 *   <li><b>With an {@link java.util.concurrent.Executor}</b> ({@link
 *       ScanMontura#addListener(ScanMonturaListener, java.util.concurrent.Executor)}): the thread
 *       described above only hands the event to the executor, in arrival order, and does not wait
 *       for it; the listener runs wherever the executor runs it, possibly after the call that
 *       fired the event has returned.
 * </ul>
 *
 * <p>The runtime attaches each thread that delivers an event to the JVM as a daemon thread named
 * {@code COM event thread <n> (EZJcomLib18)}, unless it is a Java thread already. A listener may
 * call the component back from inside an event, on that same thread: the call is served there
 * (an event it causes inside its own call arrives nested, on that thread), and nothing waits
 * for itself. A listener must be thread-safe, should return quickly (the component's next event
 * waits for it), and must not wait for the thread that made the call it was fired inside (a GUI
 * thread waiting in the runtime, say, with {@code invokeAndWait}): that thread waits for the
 * listener. To run listener code on such a thread, register with an executor.
 */
public class IScanMonturaEvents extends JComEventListener {
    private static final NativeLibrary BRIDGE = NativeLibrary.load("JTrazelo");

    private static final String[][] CONTRACT = {
        {"OnChange", "()"}, {"OnClick", "()"}, {"OnDblClick", "()"}, {"OnKeyPress", "(byte[])"},
        {"JComOnEventError", "(String, String)"}, {"JComOnEventException", "(String, Throwable)"},
    };

    // Methods of a listener class that the bridge never calls, found once per class.
    private static final ClassValue<List<String>> MISNAMED = new ClassValue<>() {
        @Override
        protected List<String> computeValue(Class<?> type) {
            return misnamedMethods(type);
        }
    };

    // Guards the connection state; held only for moments, never while the component is called.
    private final Object connection = new Object();
    // The component connected to, held weakly (the sink holds this listener, and must not keep the
    // component's wrapper reachable), and this connection's place among the wrapper's children.
    private WeakReference<ScanMontura> connectedTo;
    private Connection child;
    private volatile int cookie;
    private boolean connecting;     // a thread is connecting outside the lock
    private Thread disconnecting;   // the thread disconnecting outside the lock
    private volatile EventErrorHandler errorHandler;

    /**
     * Makes a listener (or an unbound event-interface wrapper).
     *
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public IScanMonturaEvents() {
        BRIDGE.require();
    }

    /**
     * Binds this wrapper to the event interface of the object behind {@code source}, or to its
     * {@code IDispatch} when {@code allowDispatch} is true and the interface is not offered.
     *
     * @param source a bound wrapper of the object
     * @param allowDispatch whether a plain {@code IDispatch} will do
     * @return true when bound; false, without an exception, when the binding failed
     */
    public native boolean __JComLoad(JComObject source, boolean allowDispatch);

    /**
     * Gives this object an event sink of its own so that it can receive events; always true.
     * Each call makes a new sink: use {@link #listen()}, which makes one only where there is none.
     *
     * @return true
     */
    public native boolean __JComEventListenerInit();

    // Binds to the component's event interface for ScanMontura.events(); false when it fails.
    boolean bindTo(ScanMontura component) {
        if (!__JComLoad(component, true)) {
            return false;
        }
        releaseWhenUnreachable();
        return true;
    }

    // Disconnects `cookie` of this listener's sink (0: every connection, or none) and, with its
    // last connection, gives the sink up; through any wrapper, since the runtime remembers the
    // component each connection was made on.
    void giveUp(int cookie) {
        Unadviser.ANY.unadvise(this, cookie);
    }

    // An unbound wrapper to disconnect through when the component's wrapper is gone.
    private static final class Unadviser {
        static final ScanMontura ANY = new ScanMontura();
    }

    /**
     * Sets where this listener's failures go: the exceptions its event methods throw and the
     * events it has no method for.
     *
     * @param handler the handler, or null for {@link EventErrorHandler#LOG}
     */
    public void setEventErrorHandler(EventErrorHandler handler) {
        errorHandler = handler;
    }

    /**
     * Makes this object a listener: gives it an event sink, unless it has one already. Reports,
     * to the listener's {@link EventErrorHandler}, each method whose name differs from an event's
     * only in case or whose parameters differ from the event's.
     *
     * @throws IllegalStateException when no sink could be made, or when this object is a plain
     *     {@code IScanMonturaEvents} (which has no event methods; subclass it)
     */
    public void listen() {
        synchronized (lock()) {
            makeSink();
        }
    }

    private void makeSink() {
        if (eventId != 0) {
            return;
        }
        if (getClass() == IScanMonturaEvents.class) {
            throw new IllegalStateException("IScanMonturaEvents has no event methods: connect a "
                    + "subclass (ScanMonturaAdapter) or use ScanMontura.addListener");
        }
        __JComEventListenerInit();
        if (eventId == 0) {
            throw new IllegalStateException("IScanMonturaEvents: no event sink could be made");
        }
        for (String problem : MISNAMED.get(getClass())) {
            String event = problem.substring(0, problem.indexOf(':'));
            EventErrors.report(errorHandler, event, new EventDeliveryException(event, problem));
        }
    }

    /**
     * Connects this listener to the events of {@code component}, making it a listener first where
     * {@link #listen()} has not run yet. The connection ends with the component's wrapper: closing
     * that wrapper disconnects this listener too.
     *
     * @param component the bound component whose events to receive
     * @return the connection's cookie
     * @throws IllegalStateException when the listener is connected already, another thread is
     *     connecting or disconnecting it, or the component's wrapper is closed (or closed while
     *     connecting: the connection is undone)
     * @throws ezjcom.JComException when the component refuses the connection
     */
    public int connect(ScanMontura component) {
        Objects.requireNonNull(component, "component");
        component.checkOpen();
        Connection made = new Connection(component.lifetime());
        boolean madeSink;
        synchronized (lock()) {
            if (connectedTo != null || connecting || disconnecting != null) {
                throw new IllegalStateException(connectedTo == null
                        ? "IScanMonturaEvents: another thread is connecting or disconnecting the listener"
                        : "IScanMonturaEvents: the listener is connected already");
            }
            madeSink = eventId == 0;
            makeSink();
            connecting = true;
        }
        int newCookie = 0;
        RuntimeException failure = null;
        try {
            if (!made.parent.adopt(made)) {
                throw component.closedMeanwhile(null);
            }
            newCookie = component.advise(this);
        } catch (RuntimeException e) {
            made.parent.disown(made);
            failure = component.isClosed() && !(e instanceof IllegalStateException)
                    ? component.closedMeanwhile(e) : e;
            if (madeSink) {
                try {
                    giveUp(0);  // a failed connect leaves the listener as it found it
                } catch (RuntimeException cleanup) {
                    failure.addSuppressed(cleanup);
                }
            }
        } finally {
            synchronized (lock()) {
                connecting = false;
                if (newCookie != 0) {
                    connectedTo = new WeakReference<>(component);
                    child = made;
                    cookie = newCookie;
                }
            }
        }
        if (failure != null) {
            throw failure;
        }
        if (made.ended) {
            // The wrapper was closed while this connection was being made: it goes again.
            disconnect();
            throw component.closedMeanwhile(null);
        }
        return newCookie;
    }

    // This listener's connection as a child of the component wrapper's lifetime.
    private final class Connection implements Lifetime.Child {
        final Lifetime parent;
        volatile boolean ended;

        Connection(Lifetime parent) {
            this.parent = parent;
        }

        @Override
        public void endWithWrapper() {
            ended = true;
            disconnect();  // does nothing while connect() is under way; connect() sees `ended`
        }
    }

    /**
     * Returns the cookie of the current connection, or 0 when not connected. Never waits.
     *
     * @return the cookie, or 0
     */
    public int cookie() {
        return cookie;
    }

    /**
     * Returns true while {@link #connect(ScanMontura)} holds a connection. Never waits.
     *
     * @return whether the listener is connected
     */
    public boolean isConnected() {
        return cookie != 0;
    }

    /**
     * Disconnects this listener from the component and gives up its event sink, so that the
     * listener can be collected. Does nothing for a listener that is neither connected nor
     * listening, or that another thread is connecting (that connect ends it again if the
     * component's wrapper is closed meanwhile); while another thread disconnects it, waits until
     * that is done. A listener that only listened gives up its sink. While the component is being
     * called no lock is held: an event under way may still call the listener and read its state.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect (where the runtime
     *     keeps the sink then, the listener stays connected and may try again)
     */
    public void disconnect() {
        ScanMontura component;
        Connection ending;
        int oldCookie;
        Thread me = Thread.currentThread();
        synchronized (lock()) {
            boolean interrupted = false;
            while (disconnecting != null && disconnecting != me) {
                try {
                    lock().wait();
                } catch (InterruptedException e) {
                    interrupted = true;  // kept for the caller; disconnecting is short
                }
            }
            if (interrupted) {
                me.interrupt();
            }
            if (connecting || disconnecting == me || (connectedTo == null && eventId == 0)) {
                return;
            }
            component = connectedTo == null ? null : connectedTo.get();
            ending = child;
            oldCookie = cookie;
            disconnecting = me;
        }
        try {
            if (component != null) {
                component.unadvise(this, oldCookie);
            } else {
                // Never advised (only the sink's creation reference is given up), or the
                // component's wrapper is gone: through any wrapper.
                giveUp(oldCookie);
            }
        } finally {
            synchronized (lock()) {
                disconnecting = null;
                if (eventId == 0) {  // the sink is gone, and with it the connection
                    connectedTo = null;
                    child = null;
                    cookie = 0;
                } else {
                    ending = null;  // still connected: it still ends with the wrapper
                }
                lock().notifyAll();
            }
            if (ending != null) {
                ending.parent.disown(ending);
            }
        }
    }

    /**
     * Disconnects the listener ({@link #disconnect()}) and gives back the wrapper's binding, if it
     * has one ({@link JComObject#close()}). Idempotent.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect (the binding is given
     *     back all the same)
     */
    @Override
    public void close() {
        try {
            disconnect();
        } finally {
            super.close();
        }
    }

    /**
     * Called by the bridge when an event arrives for which this listener has no method: reports
     * an {@link EventDeliveryException} to the listener's {@link EventErrorHandler}.
     *
     * @param eventName the event's name
     * @param message why it was not delivered ("Unable to locate method")
     */
    public void JComOnEventError(String eventName, String message) {
        EventErrors.report(errorHandler, eventName, new EventDeliveryException(eventName,
                eventName + ": " + message + " (" + getClass().getName() + " has no method "
                        + eventName + signatureOf(eventName) + ")"));
    }

    /**
     * Called by the bridge with the exception an event method threw: reports it to the listener's
     * {@link EventErrorHandler}.
     *
     * @param eventName the event's name
     * @param exception what the method threw
     */
    public void JComOnEventException(String eventName, Throwable exception) {
        EventErrors.report(errorHandler, eventName, exception);
    }

    private static String signatureOf(String eventName) {
        for (String[] entry : CONTRACT) {
            if (entry[0].equals(eventName)) {
                return entry[1];
            }
        }
        return "";
    }

    // "OnChange: ..." for each method of the class that looks meant for an event or callback of
    // the contract (its name differs only in case) but that the bridge will not call.
    private static List<String> misnamedMethods(Class<?> type) {
        List<Method> methods = new ArrayList<>();
        for (Class<?> c = type; c != null && c != Object.class; c = c.getSuperclass()) {
            for (Method m : c.getDeclaredMethods()) {
                if (!Modifier.isStatic(m.getModifiers())) {
                    methods.add(m);
                }
            }
        }
        List<String> problems = new ArrayList<>();
        for (String[] entry : CONTRACT) {
            String name = entry[0];
            for (Method m : methods) {
                boolean exact = m.getName().equals(name) && parameters(m).equals(entry[1])
                        && m.getReturnType() == void.class;
                if (m.getName().equalsIgnoreCase(name) && !exact) {
                    problems.add(name + ": " + m.getDeclaringClass().getName() + "." + m.getName()
                            + parameters(m) + " is never called; the bridge calls void " + name
                            + entry[1]);
                }
            }
        }
        return List.copyOf(problems);
    }

    private static String parameters(Method m) {
        StringBuilder text = new StringBuilder("(");
        for (Class<?> p : m.getParameterTypes()) {
            if (text.length() > 1) {
                text.append(", ");
            }
            text.append(p.getSimpleName());
        }
        return text.append(')').toString();
    }

    // A listener made without running a constructor (__JComNewObj) has no lock object.
    private Object lock() {
        return connection != null ? connection : this;
    }
}
