package puente;

import ezjcom.JComEventListener;
import ezjcom.JComObject;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * The {@code ScanMontura} component: an edit control and an eyeglass-frame tracer, reached through
 * the native bridge library {@code JTrazelo}.
 *
 * <p>An instance is a wrapper; it refers to a component once it is bound, which one of the
 * creation methods does:
 *
 * <pre>{@code
 * ScanMontura component = ScanMontura.create();      // a new instance
 * IScanMontura device = component.dispatch();        // its dispatch interface
 * device.setPuertoComm((short) 1);
 * }</pre>
 *
 * <p>Creation failures reported by the component surface as the runtime's
 * {@link ezjcom.JComException}; a creation that the bridge refuses without one surfaces as an
 * {@link IllegalStateException}.
 *
 * <p>Events reach Java in one of two ways: a listener object (a subclass of
 * {@link IScanMonturaEvents}, usually of {@link ScanMonturaAdapter}) connected with
 * {@link IScanMonturaEvents#connect(ScanMontura)}, or server-side delivery, registered with
 * {@link #registerServerSideEvents()}, which hands every event to the {@link ServerSideListener}s
 * added with {@link #addServerSideListener(ServerSideListener)}.
 */
public class ScanMontura extends JComObject {
    static {
        System.loadLibrary("JTrazelo");
    }

    /** The event interface name that {@link #__RemoteEventAdd(String)} accepts. */
    public static final String EVENT_INTERFACE = "puente.IScanMonturaEvents";

    // Not final and created on first use: a wrapper made by __JComNewObj has had no constructor run.
    private volatile List<ServerSideListener> serverSideListeners;

    /** Makes an unbound wrapper; bind it with {@link #__JComCreateObject(boolean, boolean)}. */
    public ScanMontura() {
        serverSideListeners = new CopyOnWriteArrayList<>();
    }

    /** Returns the component's CLSID in registry form, {@code {XXXXXXXX-XXXX-...}}. */
    public static native String __JComGetGUID();

    /**
     * Makes an instance of any class: with its no-argument constructor where it has one, otherwise
     * without running a constructor (fields keep their default values).
     */
    public static native Object __JComNewObj(Class<?> cls);

    /**
     * Binds this wrapper to a component: the running instance when {@code activeInstance} is true,
     * otherwise the running instance or a new one when {@code miscCreate} is true, otherwise a new
     * local instance.
     *
     * @return true when bound
     * @throws ezjcom.JComException when the creation fails
     */
    public native boolean __JComCreateObject(boolean activeInstance, boolean miscCreate);

    /**
     * Creates the component on another machine as the given identity ({@code user}, {@code domain}
     * and {@code password} null for the caller's own) with the class context {@code clsctx} (0 for
     * any). The runtime registers the new object as the running instance, so an
     * {@link #getActive()} reaches it afterwards.
     *
     * @return true on success
     * @throws NullPointerException when {@code machine} is null
     * @throws ezjcom.JComException when the creation fails
     */
    public static native boolean __JComCreateObjectRemote(String machine, String user, String domain,
            String password, int clsctx);

    /**
     * Registers this bound wrapper for server-side delivery of the events of the named event
     * interface (only {@link #EVENT_INTERFACE} is known).
     *
     * @return {@code {JComEventListener listener, Integer cookie}}, or null for an unknown
     *     interface name
     */
    public native Object[] __RemoteEventAdd(String eventInterface);

    /**
     * Creates a new local instance of the component.
     *
     * @throws ezjcom.JComException when the component cannot be created
     */
    public static ScanMontura create() {
        return created(false, false, "a new instance");
    }

    /**
     * Binds to the running instance of the component.
     *
     * @throws ezjcom.JComException when no instance is running
     */
    public static ScanMontura getActive() {
        return created(true, false, "the running instance");
    }

    /**
     * Binds to the running instance of the component, or to a new one when none runs.
     *
     * @throws ezjcom.JComException when neither is possible
     */
    public static ScanMontura attachOrCreate() {
        return created(false, true, "the running or a new instance");
    }

    private static ScanMontura created(boolean activeInstance, boolean miscCreate, String what) {
        ScanMontura component = new ScanMontura();
        if (!component.__JComCreateObject(activeInstance, miscCreate)) {
            throw new IllegalStateException("ScanMontura: could not bind " + what);
        }
        return component;
    }

    /**
     * Creates the component on {@code machine}; see
     * {@link #__JComCreateObjectRemote(String, String, String, String, int)}. Afterwards
     * {@link #getActive()} binds to it.
     *
     * @throws NullPointerException when {@code machine} is null
     * @throws ezjcom.JComException when the creation fails
     */
    public static void createRemote(String machine, String user, String domain, String password,
            int clsctx) {
        Objects.requireNonNull(machine, "machine");
        if (!__JComCreateObjectRemote(machine, user, domain, password, clsctx)) {
            throw new IllegalStateException("ScanMontura: could not create the component on " + machine);
        }
    }

    /**
     * Returns a new wrapper of this component's dispatch interface {@link IScanMontura}.
     *
     * @throws ezjcom.JComException when the component does not offer it
     */
    public IScanMontura dispatch() {
        return IScanMontura.bind(this);
    }

    /**
     * Returns a new wrapper bound to this component's event interface {@link IScanMonturaEvents}.
     * The component fires that interface rather than implementing it, so the wrapper binds to the
     * component's {@code IDispatch} where the interface itself is not offered.
     *
     * @throws IllegalStateException when neither can be bound
     */
    public IScanMonturaEvents events() {
        IScanMonturaEvents events = new IScanMonturaEvents();
        if (!events.__JComLoad(this, true)) {
            throw new IllegalStateException("ScanMontura: could not bind IScanMonturaEvents");
        }
        return events;
    }

    /**
     * Registers this component for server-side events: from now on each event of the component
     * goes to {@link #__JComServerSideEvent(String, String, Object[])} and from there to the
     * listeners added with {@link #addServerSideListener(ServerSideListener)}.
     *
     * @return {@code {JComEventListener listener, Integer cookie}} as
     *     {@link #__RemoteEventAdd(String)} gives it
     * @throws IllegalStateException when the bridge refuses the registration
     */
    public Object[] registerServerSideEvents() {
        Object[] registration = __RemoteEventAdd(EVENT_INTERFACE);
        if (registration == null) {
            throw new IllegalStateException("ScanMontura: server-side events could not be registered");
        }
        return registration;
    }

    /** Adds a listener for server-side events (see {@link #registerServerSideEvents()}). */
    public void addServerSideListener(ServerSideListener listener) {
        listeners().add(Objects.requireNonNull(listener, "listener"));
    }

    /** Removes a listener added with {@link #addServerSideListener(ServerSideListener)}. */
    public void removeServerSideListener(ServerSideListener listener) {
        listeners().remove(listener);
    }

    /**
     * Delivers one server-side event to every registered {@link ServerSideListener}, in the order
     * they were added. Runs on the thread the component fires from. An exception thrown by a
     * listener ends the delivery of this event and reaches the runtime.
     */
    @Override
    protected void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {
        Object[] arguments = args == null ? new Object[0] : args;
        for (ServerSideListener listener : listeners()) {
            listener.onEvent(eventName, arguments);
        }
    }

    private List<ServerSideListener> listeners() {
        List<ServerSideListener> list = serverSideListeners;
        if (list == null) {
            synchronized (this) {
                list = serverSideListeners;
                if (list == null) {
                    list = new CopyOnWriteArrayList<>();
                    serverSideListeners = list;
                }
            }
        }
        return list;
    }

    // The runtime's advise and unadvise are members of JComObject; the event wrappers reach them
    // through the component's wrapper.
    int advise(JComEventListener listener) {
        return __JComAdvise(listener);
    }

    void unadvise(JComEventListener listener, int cookie) {
        __JComUnadvise(listener, cookie);
    }
}
