package puente;

import ezjcom.JComEventListener;
import ezjcom.JComObject;
import ezjcom.NativeLibrary;
import java.util.ArrayList;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Objects;
import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CompletionException;
import java.util.concurrent.CopyOnWriteArrayList;
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
 */
public class ScanMontura extends JComObject {
    private static final NativeLibrary BRIDGE = NativeLibrary.load("JTrazelo");

    /** The event interface name that {@link #__RemoteEventAdd(String)} accepts. */
    public static final String EVENT_INTERFACE = "puente.IScanMonturaEvents";

    // Not final and created on first use: a wrapper made by __JComNewObj has had no constructor run.
    private volatile List<ServerSideListener> serverSideListeners;
    private volatile EventErrorHandler errorHandler;

    // Registrations, guarded by lock(); the lock is never held while the component is called.
    private Set<TypedRegistration> typed;
    private ServerSideRegistration serverSide;
    private CompletableFuture<ServerSideRegistration> serverSidePending;
    private boolean closing;

    /**
     * Makes an unbound wrapper; bind it with {@link #__JComCreateObject(boolean, boolean)}.
     *
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public ScanMontura() {
        BRIDGE.require();
        serverSideListeners = new CopyOnWriteArrayList<>();
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
     * @throws IllegalStateException when neither can be bound
     */
    public IScanMonturaEvents events() {
        IScanMonturaEvents events = new IScanMonturaEvents();
        if (!events.bindTo(this)) {
            throw new IllegalStateException("ScanMontura: could not bind IScanMonturaEvents");
        }
        return events;
    }

    // ---- Typed listeners ----

    /**
     * Registers a typed listener for this component's events.
     *
     * @param listener the listener
     * @return the registration; closing it disconnects exactly this listener
     * @throws IllegalStateException when this wrapper is being closed
     * @throws NullPointerException "Uninitialized JComObject" when this wrapper is unbound
     * @throws ezjcom.JComException when the component refuses the connection
     */
    public Registration addListener(ScanMonturaListener listener) {
        Objects.requireNonNull(listener, "listener");
        TypedRegistration registration = new TypedRegistration(this, listener);
        synchronized (lock()) {
            if (closing) {
                throw new IllegalStateException("ScanMontura: the wrapper is being closed");
            }
            if (typed == null) {
                typed = new LinkedHashSet<>();
            }
            typed.add(registration);
        }
        try {
            registration.connect();
        } catch (RuntimeException | Error e) {
            try {
                registration.close();
            } catch (RuntimeException cleanup) {
                e.addSuppressed(cleanup);
            }
            throw e;
        }
        return registration;
    }

    /**
     * Calls {@code action} whenever the control's text changes.
     *
     * @param action what to do, on the component's event thread
     * @return the registration; closing it ends exactly this one
     */
    public Registration onChange(Runnable action) {
        Objects.requireNonNull(action, "action");
        return addListener(new ScanMonturaListener() {
            @Override
            public void onChange() {
                action.run();
            }
        });
    }

    /**
     * Calls {@code action} whenever the control is clicked.
     *
     * @param action what to do, on the component's event thread
     * @return the registration; closing it ends exactly this one
     */
    public Registration onClick(Runnable action) {
        Objects.requireNonNull(action, "action");
        return addListener(new ScanMonturaListener() {
            @Override
            public void onClick() {
                action.run();
            }
        });
    }

    /**
     * Calls {@code action} whenever the control is double-clicked.
     *
     * @param action what to do, on the component's event thread
     * @return the registration; closing it ends exactly this one
     */
    public Registration onDblClick(Runnable action) {
        Objects.requireNonNull(action, "action");
        return addListener(new ScanMonturaListener() {
            @Override
            public void onDblClick() {
                action.run();
            }
        });
    }

    /**
     * Calls {@code action} with each key typed into the control, before the control applies it.
     *
     * @param action what to do, on the component's event thread; it may replace or swallow the key
     * @return the registration; closing it ends exactly this one
     */
    public Registration onKeyPress(Consumer<KeyPress> action) {
        Objects.requireNonNull(action, "action");
        return addListener(new ScanMonturaListener() {
            @Override
            public void onKeyPress(KeyPress key) {
                action.accept(key);
            }
        });
    }

    /**
     * Sets where failures of typed and server-side listeners go.
     *
     * @param handler the handler, or null for {@link EventErrorHandler#LOG}
     */
    public void setEventErrorHandler(EventErrorHandler handler) {
        errorHandler = handler;
    }

    /**
     * Returns where failures of typed and server-side listeners go.
     *
     * @return the handler set, or {@link EventErrorHandler#LOG}
     */
    public EventErrorHandler eventErrorHandler() {
        EventErrorHandler handler = errorHandler;
        return handler == null ? EventErrorHandler.LOG : handler;
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
        CompletableFuture<ServerSideRegistration> mine;
        CompletableFuture<ServerSideRegistration> theirs = null;
        synchronized (lock()) {
            if (closing) {
                throw new IllegalStateException("ScanMontura: the wrapper is being closed");
            }
            if (serverSide != null) {
                return serverSide;
            }
            if (serverSidePending != null) {
                theirs = serverSidePending;
                mine = null;
            } else {
                mine = new CompletableFuture<>();
                serverSidePending = mine;
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
            if (!isBound()) {
                throw new NullPointerException("Uninitialized JComObject");
            }
            Object[] made = __RemoteEventAdd(EVENT_INTERFACE);
            if (made == null) {
                throw new IllegalStateException("ScanMontura: server-side events could not be registered");
            }
            registration = new ServerSideRegistration(this, (JComEventListener) made[0], (Integer) made[1]);
            return registration;
        } finally {
            synchronized (lock()) {
                serverSidePending = null;
                serverSide = registration;
            }
            if (registration != null) {
                mine.complete(registration);
            } else {
                mine.completeExceptionally(new IllegalStateException(
                        "ScanMontura: server-side events could not be registered by another thread"));
            }
        }
    }

    /**
     * Registers this component for server-side events, unless it is registered already; see
     * {@link #enableServerSideEvents()}, which gives the registration a handle to close.
     *
     * @return {@code {JComEventListener listener, Integer cookie}} of the open registration, as
     *     {@link #__RemoteEventAdd(String)} gave it
     * @throws IllegalStateException when the bridge refuses the registration
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
     * they were added. Runs on the thread the component fires from. An exception thrown by a
     * listener goes to this component's {@link EventErrorHandler}, and the event still reaches the
     * listeners after it.
     */
    @Override
    protected void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {
        Object[] arguments = args == null ? new Object[0] : args;
        for (ServerSideListener listener : listeners()) {
            try {
                listener.onEvent(eventName, arguments);
            } catch (RuntimeException e) {
                EventErrors.report(errorHandler, eventName, e);
            }
        }
    }

    // The bridge hands here what escapes __JComServerSideEvent (an Error, say): the server-side
    // sink reports to the callbacks of the wrapper it delivers to.
    void JComOnEventException(String eventName, Throwable exception) {
        EventErrors.report(errorHandler, eventName, exception);
    }

    /**
     * Closes every registration made through this wrapper (typed listeners and server-side
     * delivery), then gives back the wrapper's reference ({@link JComObject#close()}). Idempotent
     * and thread-safe.
     *
     * @throws ezjcom.JComException when the component refuses to disconnect a registration (the
     *     others are closed and the reference given back all the same)
     */
    @Override
    public void close() {
        List<Registration> open = new ArrayList<>();
        synchronized (lock()) {
            closing = true;
            if (typed != null) {
                open.addAll(typed);
            }
            if (serverSide != null) {
                open.add(serverSide);
            }
        }
        RuntimeException failure = null;
        for (Registration registration : open) {
            try {
                registration.close();
            } catch (RuntimeException e) {
                if (failure == null) {
                    failure = e;
                } else {
                    failure.addSuppressed(e);
                }
            }
        }
        super.close();
        synchronized (lock()) {
            closing = false;  // unbound now: a later registration fails as on any unbound wrapper
        }
        if (failure != null) {
            throw failure;
        }
    }

    void forget(TypedRegistration registration) {
        synchronized (lock()) {
            if (typed != null) {
                typed.remove(registration);
            }
        }
    }

    void forget(ServerSideRegistration registration) {
        synchronized (lock()) {
            if (serverSide == registration) {
                serverSide = null;
            }
        }
    }

    private List<ServerSideListener> listeners() {
        List<ServerSideListener> list = serverSideListeners;
        if (list == null) {
            synchronized (lock()) {
                list = serverSideListeners;
                if (list == null) {
                    list = new CopyOnWriteArrayList<>();
                    serverSideListeners = list;
                }
            }
        }
        return list;
    }

    // The registrations' lock: this wrapper itself, so that one made by __JComNewObj has it too.
    private Object lock() {
        return this;
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
