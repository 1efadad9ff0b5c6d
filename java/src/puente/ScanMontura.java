package puente;

import ezjcom.JComEventListener;
import ezjcom.JComObject;
import ezjcom.NativeLibrary;
import java.lang.ref.WeakReference;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CompletionException;
import java.util.function.Consumer;

/**
 * The {@code ScanMontura} component: an edit control and an eyeglass-frame tracer, reached through
 * the native bridge library {@code JTrazelo}.
 *
 * <p>An instance is a wrapper; it refers to a component once it is bound, which one of the
 * creation methods does. Wrappers hold a COM reference each: close them (or let them become
 * unreachable) to let the component go.
 *
 * <pre>{@code
 * try (ScanMontura component = ScanMontura.create();    // a new instance
 *      IScanMontura device = component.dispatch();      // its dispatch interface
 *      Registration changes = component.onChange(() -> System.out.println(device.getText()))) {
 *     device.setText("hello");
 * }
 * }</pre>
 *
 * <p>Creation failures reported by the component surface as the runtime's
 * {@link ezjcom.JComException}; a creation that the bridge refuses without one surfaces as an
 * {@link IllegalStateException}; missing native libraries as {@link ezjcom.NativeLibraryError}.
 *
 * <p>Events reach Java in three ways:
 *
 * <ul>
 *   <li>typed listeners ({@link ScanMonturaListener}, or a lambda for one event), registered with
 *       {@link #addListener(ScanMonturaListener)}, {@link #onChange(Runnable)},
 *       {@link #onClick(Runnable)}, {@link #onDblClick(Runnable)} and
 *       {@link #onKeyPress(Consumer)}; each returns a {@link Registration} to close;
 *   <li>a name-matched listener object (a subclass of {@link IScanMonturaEvents}, usually of
 *       {@link ScanMonturaAdapter}) connected with {@link IScanMonturaEvents#connect(ScanMontura)};
 *   <li>server-side delivery, registered with {@link #enableServerSideEvents()}, which hands every
 *       event to the {@link ServerSideListener}s added with
 *       {@link #addServerSideListener(ServerSideListener)}.
 * </ul>
 *
 * <p>What typed and server-side listeners throw goes to this component's
 * {@link EventErrorHandler} ({@link #setEventErrorHandler(EventErrorHandler)}).
 *
 * <p>Registrations end with the wrapper they were made through: {@link #close()} closes them, and
 * a wrapper that becomes unreachable without having been closed is cleaned up with them (what a
 * registration holds never keeps its wrapper reachable). Once the wrapper is closed, its methods
 * that make something through it ({@link #dispatch()}, {@link #events()}, the registrations)
 * throw {@link IllegalStateException} "ScanMontura is closed"; closing a registration afterwards
 * does nothing.
 */
public class ScanMontura extends JComObject {
    private static final NativeLibrary BRIDGE = NativeLibrary.load("JTrazelo");
    static final String NAME = "ScanMontura";

    /** The event interface name that {@link #__RemoteEventAdd(String)} accepts. */
    public static final String EVENT_INTERFACE = "puente.IScanMonturaEvents";

    // What the registrations share with this wrapper; made on first use (a wrapper made by
    // __JComNewObj has had no constructor run).
    private volatile ComponentEvents shared;

    // On a relay (see enableServerSideEvents): the wrapper whose events it forwards, held weakly so
    // that the relay's server-side sink does not keep that wrapper reachable, and the deliveries of
    // its registration. Null otherwise.
    private volatile WeakReference<ScanMontura> relayFor;
    private volatile DeliveryGate relayDeliveries;

    /**
     * Makes an unbound wrapper; bind it with {@link #__JComCreateObject(boolean, boolean)}.
     *
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public ScanMontura() {
        BRIDGE.require();
    }

    /**
     * Returns the component's CLSID in registry form, {@code {XXXXXXXX-XXXX-...}}.
     *
     * @return the CLSID as text
     */
    public static native String __JComGetGUID();

    /**
     * Makes an instance of any class: with its no-argument constructor where it has one, otherwise
     * without running a constructor (fields keep their default values).
     *
     * @param cls the class to instantiate
     * @return the new instance, or null with an exception pending
     */
    public static native Object __JComNewObj(Class<?> cls);

    /**
     * Binds this wrapper to a component: the running instance when {@code activeInstance} is true,
     * otherwise the running instance or a new one when {@code miscCreate} is true, otherwise a new
     * local instance. The friendly factories ({@link #create()} and its siblings) also give the
     * reference back when the wrapper becomes unreachable; this native leaves that to
     * {@link #close()}.
     *
     * @param activeInstance bind to the running instance
     * @param miscCreate bind to the running instance or a new one
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
     * @param machine the machine's name
     * @param user the user to create as, or null
     * @param domain the user's domain, or null
     * @param password the user's password, or null
     * @param clsctx the class context, 0 for any
     * @return true on success
     * @throws NullPointerException when {@code machine} is null
     * @throws ezjcom.JComException when the creation fails
     */
    public static native boolean __JComCreateObjectRemote(String machine, String user, String domain,
            String password, int clsctx);

    /**
     * Registers this bound wrapper for server-side delivery of the events of the named event
     * interface (only {@link #EVENT_INTERFACE} is known). Each call makes a new registration:
     * {@link #enableServerSideEvents()} makes one only where there is none.
     *
     * @param eventInterface the event interface's Java name
     * @return {@code {JComEventListener listener, Integer cookie}}, or null for an unknown
     *     interface name
     */
    public native Object[] __RemoteEventAdd(String eventInterface);

    /**
     * Creates a new local instance of the component.
     *
     * @return the bound wrapper
     * @throws ezjcom.JComException when the component cannot be created
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public static ScanMontura create() {
        return created(false, false, "a new instance");
    }

    /**
     * Binds to the running instance of the component.
     *
     * @return the bound wrapper
     * @throws ezjcom.JComException when no instance is running
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public static ScanMontura getActive() {
        return created(true, false, "the running instance");
    }

    /**
     * Binds to the running instance of the component, or to a new one when none runs.
     *
     * @return the bound wrapper
     * @throws ezjcom.JComException when neither is possible
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public static ScanMontura attachOrCreate() {
        return created(false, true, "the running or a new instance");
    }

    private static ScanMontura created(boolean activeInstance, boolean miscCreate, String what) {
        ScanMontura component = new ScanMontura();
        if (!component.__JComCreateObject(activeInstance, miscCreate)) {
            throw new IllegalStateException("ScanMontura: could not bind " + what);
        }
        component.releaseWhenUnreachable();
        return component;
    }

    /**
     * Creates the component on {@code machine}; see
     * {@link #__JComCreateObjectRemote(String, String, String, String, int)}. Afterwards
     * {@link #getActive()} binds to it.
     *
     * @param machine the machine's name
     * @param user the user to create as, or null for the caller's identity
     * @param domain the user's domain, or null
     * @param password the user's password, or null
     * @param clsctx the class context, 0 for any
     * @throws NullPointerException when {@code machine} is null
     * @throws ezjcom.JComException when the creation fails
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public static void createRemote(String machine, String user, String domain, String password,
            int clsctx) {
        BRIDGE.require();
        Objects.requireNonNull(machine, "machine");
        if (!__JComCreateObjectRemote(machine, user, domain, password, clsctx)) {
            throw new IllegalStateException("ScanMontura: could not create the component on " + machine);
        }
    }

    /**
     * Returns a new wrapper of this component's dispatch interface {@link IScanMontura}; it holds
     * a reference of its own, to close when done.
     *
     * @return the bound wrapper
     * @throws IllegalStateException when this wrapper is closed
     * @throws ezjcom.JComException when the component does not offer it
     */
    public IScanMontura dispatch() {
        return IScanMontura.bind(this);
    }

    /**
     * Returns a new wrapper bound to this component's event interface {@link IScanMonturaEvents}.
     * The component fires that interface rather than implementing it, so the wrapper binds to the
     * component's {@code IDispatch} where the interface itself is not offered. It holds a
     * reference of its own; it is no listener (to listen, see the class description).
     *
     * @return the bound wrapper
     * @throws IllegalStateException when this wrapper is closed, or neither can be bound
     */
    public IScanMonturaEvents events() {
        requireOpen(NAME);
        IScanMonturaEvents events = new IScanMonturaEvents();
        if (!events.bindTo(this)) {
            requireOpen(NAME);
            throw new IllegalStateException("ScanMontura: could not bind IScanMonturaEvents");
        }
        return events;
    }

    // ---- Typed listeners ----

    /**
     * Registers a typed listener for this component's events.
     *
     * @param listener the listener
     * @return the registration; closing it disconnects exactly this listener, and closing this
     *     wrapper closes it too
     * @throws IllegalStateException when this wrapper is closed (or closed meanwhile)
     * @throws NullPointerException "Uninitialized JComObject" when this wrapper was never bound
     * @throws ezjcom.JComException when the component refuses the connection
     */
    public Registration addListener(ScanMonturaListener listener) {
        Objects.requireNonNull(listener, "listener");
        requireOpen(NAME);
        return TypedRegistration.open(this, listener, null);
    }

    /**
     * Registers a typed listener whose methods run on {@code executor} (a GUI toolkit's event
     * thread, say) rather than on the thread the event arrives on (see <a
     * href="IScanMonturaEvents.html#threads">the thread rules</a>): each event is handed to the
     * executor, in the order the events arrive, and the component goes on without waiting for it.
     * An event the executor runs after the registration was closed is not delivered, and once
     * {@link Registration#close()} has returned no listener method runs. Since the control has
     * applied a key by the time the executor runs {@link ScanMonturaListener#onKeyPress(KeyPress)},
     * that method gets a copy of the key: replacing or swallowing it has no effect. What a method
     * throws, and an executor's refusal, go to this component's {@link EventErrorHandler}.
     *
     * @param listener the listener
     * @param executor where the listener's methods run
     * @return the registration; closing it disconnects exactly this listener, and closing this
     *     wrapper closes it too
     * @throws IllegalStateException when this wrapper is closed (or closed meanwhile)
     * @throws NullPointerException "Uninitialized JComObject" when this wrapper was never bound
     * @throws ezjcom.JComException when the component refuses the connection
     */
    public Registration addListener(ScanMonturaListener listener, java.util.concurrent.Executor executor) {
        Objects.requireNonNull(listener, "listener");
        Objects.requireNonNull(executor, "executor");
        requireOpen(NAME);
        return TypedRegistration.open(this, listener, executor);
    }

    /**
     * Calls {@code action} whenever the control's text changes.
     *
     * @param action what to do, on the thread the event arrives on
     * @return the registration; closing it ends exactly this one
     */
    public Registration onChange(Runnable action) {
        Objects.requireNonNull(action, "action");
        return addListener(Listeners.onChange(action));
    }

    /**
     * Calls {@code action} whenever the control is clicked.
     *
     * @param action what to do, on the thread the event arrives on
     * @return the registration; closing it ends exactly this one
     */
    public Registration onClick(Runnable action) {
        Objects.requireNonNull(action, "action");
        return addListener(Listeners.onClick(action));
    }

    /**
     * Calls {@code action} whenever the control is double-clicked.
     *
     * @param action what to do, on the thread the event arrives on
     * @return the registration; closing it ends exactly this one
     */
    public Registration onDblClick(Runnable action) {
        Objects.requireNonNull(action, "action");
        return addListener(Listeners.onDblClick(action));
    }

    /**
     * Calls {@code action} with each key typed into the control, before the control applies it.
     *
     * @param action what to do, on the thread the event arrives on; it may replace or swallow the key
     * @return the registration; closing it ends exactly this one
     */
    public Registration onKeyPress(Consumer<KeyPress> action) {
        Objects.requireNonNull(action, "action");
        return addListener(Listeners.onKeyPress(action));
    }

    /**
     * Sets where failures of typed and server-side listeners go.
     *
     * @param handler the handler, or null for {@link EventErrorHandler#LOG}
     */
    public void setEventErrorHandler(EventErrorHandler handler) {
        shared().errorHandler = handler;
    }

    /**
     * Returns where failures of typed and server-side listeners go.
     *
     * @return the handler set, or {@link EventErrorHandler#LOG}
     */
    public EventErrorHandler eventErrorHandler() {
        return shared().errorHandler();
    }

    // ---- Server-side delivery ----

    /**
     * Registers this component for server-side events, unless it is registered already: from then
     * on each event of the component goes to {@link #__JComServerSideEvent(String, String, Object[])}
     * and from there to the listeners added with {@link #addServerSideListener(ServerSideListener)}.
     * While a registration is open, every call returns that one (a call racing the first waits for
     * it).
     *
     * @return the open registration; closing it ends server-side delivery
     * @throws IllegalStateException when the bridge refuses the registration, or this wrapper is
     *     being closed
     * @throws NullPointerException "Uninitialized JComObject" when this wrapper is unbound
     * @throws ezjcom.JComException when the component refuses the connection
     */
    public ServerSideRegistration enableServerSideEvents() {
        requireOpen(NAME);
        ComponentEvents events = shared();
        CompletableFuture<ServerSideRegistration> mine;
        CompletableFuture<ServerSideRegistration> theirs = null;
        synchronized (events) {
            if (events.serverSide != null) {
                return events.serverSide;
            }
            if (events.serverSidePending != null) {
                theirs = events.serverSidePending;
                mine = null;
            } else {
                mine = new CompletableFuture<>();
                events.serverSidePending = mine;
            }
        }
        if (theirs != null) {
            try {
                return theirs.join();
            } catch (CompletionException e) {
                if (e.getCause() instanceof RuntimeException cause) {
                    throw cause;
                }
                throw e;
            }
        }
        ServerSideRegistration registration = null;
        try {
            registration = registerServerSide(events);
            return registration;
        } finally {
            synchronized (events) {
                events.serverSidePending = null;
                if (registration != null && registration.isOpen()) {
                    events.serverSide = registration;
                }
            }
            if (registration != null) {
                mine.complete(registration);
            } else {
                mine.completeExceptionally(new IllegalStateException(
                        "ScanMontura: server-side events could not be registered by another thread"));
            }
        }
    }

    // One server-side registration, made on a relay: a wrapper of its own, bound to the same
    // component, on which __RemoteEventAdd runs, so that the sink's reference to the wrapper it
    // delivers to holds the relay and never this wrapper. The relay forwards each event here.
    private ServerSideRegistration registerServerSide(ComponentEvents events) {
        if (!isBound() && !isClosed()) {
            throw new NullPointerException("Uninitialized JComObject");
        }
        ScanMontura relay = new ScanMontura();
        DeliveryGate deliveries = new DeliveryGate();
        relay.relayFor = new WeakReference<>(this);
        relay.relayDeliveries = deliveries;
        relay.shared = events;
        ServerSideRegistration registration = null;
        try {
            relay.shareBinding(this);
            Object[] made = relay.__RemoteEventAdd(EVENT_INTERFACE);
            if (made == null) {
                throw new IllegalStateException("ScanMontura: server-side events could not be registered");
            }
            registration = new ServerSideRegistration(events, relay, deliveries,
                    (JComEventListener) made[0], (Integer) made[1], lifetime());
        } catch (RuntimeException | Error e) {
            relay.close();
            if (isClosed()) {
                throw closedMeanwhile(e);
            }
            throw e;
        }
        if (!lifetime().adopt(registration)) {
            registration.close();  // this wrapper was closed meanwhile: the registration goes too
            throw closedMeanwhile(null);
        }
        return registration;
    }

    /**
     * Registers this component for server-side events, unless it is registered already; see
     * {@link #enableServerSideEvents()}, which gives the registration a handle to close.
     *
     * @return {@code {JComEventListener listener, Integer cookie}} of the open registration, as
     *     {@link #__RemoteEventAdd(String)} gave it
     * @throws IllegalStateException when the bridge refuses the registration, or this wrapper is
     *     closed
     */
    public Object[] registerServerSideEvents() {
        return enableServerSideEvents().asArray();
    }

    /**
     * Adds a listener for server-side events (see {@link #enableServerSideEvents()}).
     *
     * @param listener the listener
     */
    public void addServerSideListener(ServerSideListener listener) {
        listeners().add(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added with {@link #addServerSideListener(ServerSideListener)}.
     *
     * @param listener the listener
     */
    public void removeServerSideListener(ServerSideListener listener) {
        listeners().remove(listener);
    }

    /**
     * Delivers one server-side event to every registered {@link ServerSideListener}, in the order
     * they were added. Runs on the thread the event arrives on (see {@link IScanMonturaEvents}). Whatever a listener throws
     * (an {@link Error} too) goes to this component's {@link EventErrorHandler}, and the event
     * still reaches the listeners after it.
     */
    @Override
    protected void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {
        WeakReference<ScanMontura> forwarding = relayFor;
        if (forwarding != null) {
            DeliveryGate deliveries = relayDeliveries;
            if (!deliveries.enter()) {
                return;  // the registration is closed
            }
            try {
                ScanMontura target = forwarding.get();
                if (target != null) {  // else that wrapper is gone, and its cleaner ends the registration
                    target.__JComServerSideEvent(interfaceName, eventName, args);
                }
            } finally {
                deliveries.exit();
            }
            return;
        }
        Object[] arguments = args == null ? new Object[0] : args;
        ComponentEvents events = shared();
        for (ServerSideListener listener : events.serverSideListeners) {
            try {
                listener.onEvent(eventName, arguments);
            } catch (Throwable e) {
                events.report(eventName, e);
            }
        }
    }

    // The bridge hands here what escapes __JComServerSideEvent (an override's exception, say): the
    // server-side sink reports to the callbacks of the wrapper it delivers to.
    void JComOnEventException(String eventName, Throwable exception) {
        shared().report(eventName, exception);
    }

    /**
     * Closes every registration made through this wrapper (typed listeners, name-matched listeners
     * connected to it and server-side delivery), then gives back the wrapper's reference
     * ({@link JComObject#close()}). Idempotent and thread-safe; a registration being made on
     * another thread meanwhile is undone, and its maker gets an {@link IllegalStateException}.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect a registration (the
     *     others are closed and the reference given back all the same)
     */
    @Override
    public void close() {
        super.close();
    }

    private List<ServerSideListener> listeners() {
        return shared().serverSideListeners;
    }

    ComponentEvents shared() {
        ComponentEvents events = shared;
        if (events == null) {
            synchronized (this) {
                events = shared;
                if (events == null) {
                    events = new ComponentEvents();
                    shared = events;
                }
            }
        }
        return events;
    }

    // IllegalStateException once this wrapper is closed, for the other wrappers of the package.
    void checkOpen() {
        requireOpen(NAME);
    }

    // The exception of a registration that this wrapper's close undid while it was being made.
    IllegalStateException closedMeanwhile(Throwable cause) {
        return new IllegalStateException(NAME + " is closed", cause);
    }

    // Typed listeners of one event each, made where no wrapper is in scope (an anonymous class
    // made in an instance method would refer to its wrapper, and the registration's sink would then
    // keep the wrapper reachable).
    private static final class Listeners {
        static ScanMonturaListener onChange(Runnable action) {
            return new ScanMonturaListener() {
                @Override
                public void onChange() {
                    action.run();
                }
            };
        }

        static ScanMonturaListener onClick(Runnable action) {
            return new ScanMonturaListener() {
                @Override
                public void onClick() {
                    action.run();
                }
            };
        }

        static ScanMonturaListener onDblClick(Runnable action) {
            return new ScanMonturaListener() {
                @Override
                public void onDblClick() {
                    action.run();
                }
            };
        }

        static ScanMonturaListener onKeyPress(Consumer<KeyPress> action) {
            return new ScanMonturaListener() {
                @Override
                public void onKeyPress(KeyPress key) {
                    action.accept(key);
                }
            };
        }
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
