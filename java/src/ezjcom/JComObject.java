package ezjcom;

import java.lang.invoke.MethodHandles;
import java.lang.invoke.VarHandle;
import java.lang.ref.Cleaner;
import java.lang.ref.Reference;

/**
 * The Java side of a COM object: the base class of every wrapper.
 *
 * <p>A wrapper is bound while {@link #comId} holds the value that stands for its object's COM
 * reference (0 means unbound). The native bridge writes the field when it creates or binds the
 * object, and with it hands over one COM reference, which the wrapper owns: {@link #close()} gives
 * it back and leaves the wrapper unbound, so that its members throw
 * {@link NullPointerException} "Uninitialized JComObject" from then on. A wrapper bound through
 * the friendly factories of its subclasses also gives its reference back when it becomes
 * unreachable without being closed (see {@link #releaseWhenUnreachable()}).
 *
 * <pre>{@code
 * try (ScanMontura component = ScanMontura.create();
 *      IScanMontura device = component.dispatch()) {
 *     device.setText("hello");
 * }   // both references given back, the component goes
 * }</pre>
 *
 * <p>Closing is idempotent and may happen on any thread, also while other threads call the
 * wrapper's members, connect listeners through it or close its registrations: a call under way
 * keeps the object until it returns, and the reference goes once the last such call is over.
 * Registrations made through a wrapper end with it ({@link Lifetime}).
 *
 * <p>Events: a {@link JComEventListener} whose {@code eventId} holds an event sink is connected to
 * this object's event source with {@link #__JComAdvise(JComEventListener)} and disconnected with
 * {@link #__JComUnadvise(JComEventListener, int)}. With server-side delivery (on by default, see
 * {@link #__JComSetServerSideEvents(boolean)}) the events of a server-side sink reach
 * {@link #__JComServerSideEvent(String, String, Object[])}, which subclasses override.
 *
 * <p>Every constructor throws {@link NativeLibraryError} when the runtime's native library
 * {@code EZJcomLib18} could not be loaded.
 */
public class JComObject implements AutoCloseable {
    // On Windows the JVM resolves a native only in the library that System.loadLibrary opened,
    // not in that library's dependencies: the runtime's own natives need this. The class's
    // initialisation stays this small (every thread that first touches a wrapper waits for it).
    private static final NativeLibrary RUNTIME = NativeLibrary.load("EZJcomLib18");

    /**
     * The value that stands for the COM reference of the bound object, or 0. Written by the native
     * bridge and the runtime; not for applications (see {@link #isBound()}).
     */
    public int comId;

    // Made at first need (a wrapper made by __JComNewObj has had no constructor run); it never
    // refers to this wrapper.
    private volatile Lifetime lifetime;

    /**
     * Makes an unbound wrapper.
     *
     * @throws NativeLibraryError when the runtime's native library could not be loaded
     */
    public JComObject() {
        RUNTIME.require();
    }

    /**
     * Returns true when this wrapper holds a COM reference.
     *
     * @return whether the wrapper is bound
     */
    public boolean isBound() {
        return comId != 0;
    }

    /**
     * Returns true once {@link #close()} has run (or the cleaner, for a wrapper that became
     * unreachable).
     *
     * @return whether the wrapper is closed
     */
    public final boolean isClosed() {
        Lifetime l = lifetime;
        return l != null && l.isClosed();
    }

    /**
     * Closes the objects whose life ends with this wrapper's (its registrations, see
     * {@link #lifetime()}), then gives back the COM reference this wrapper holds and leaves it
     * unbound. Idempotent and thread-safe: of any number of calls, on any threads, exactly one
     * does the work. A member call on another thread that is under way when the wrapper is closed
     * completes, and the reference goes when it is over; later calls find the wrapper unbound.
     *
     * @throws RuntimeException the first failure of closing a registration (the others are closed
     *     and the reference given back all the same)
     */
    @Override
    public void close() {
        Lifetime l = lifetime();
        RuntimeException failure = l.endChildren();
        int value = (int) ComId.HANDLE.getAndSet(this, 0);
        l.disownBinding(value);
        if (value != 0) {
            __JComRelease(value);
        }
        l.forgetCleaner();
        Reference.reachabilityFence(this);
        if (failure != null) {
            throw failure;
        }
    }

    /**
     * Returns the lifetime of this wrapper's binding, with which registrations and other objects
     * that end with the wrapper are adopted. Not for applications.
     *
     * @return the lifetime, made at the first call
     */
    public final Lifetime lifetime() {
        Lifetime l = lifetime;
        if (l == null) {
            synchronized (this) {
                l = lifetime;
                if (l == null) {
                    l = new Lifetime();
                    lifetime = l;
                }
            }
        }
        return l;
    }

    /**
     * Throws {@link IllegalStateException} "{@code name} is closed" once this wrapper is closed.
     *
     * @param name what the message calls the wrapper
     * @throws IllegalStateException when the wrapper is closed
     */
    protected final void requireOpen(String name) {
        if (isClosed()) {
            throw new IllegalStateException(name + " is closed");
        }
    }

    /**
     * Makes the current binding one that is given back, together with the wrapper's children, when
     * this wrapper becomes unreachable without having been closed. The friendly factories of the
     * subclasses call it on the wrappers they bind; a wrapper bound by calling the binding natives
     * directly is given back only by {@link #close()}. Does nothing for an unbound or closed
     * wrapper or one already registered.
     */
    protected final void releaseWhenUnreachable() {
        lifetime().releaseWhenUnreachable(this, comId, Releaser.CLEANER);
    }

    /**
     * Binds this unbound wrapper to the object behind {@code source}, with a COM reference of its
     * own. Not for applications.
     *
     * @param source a bound wrapper
     * @throws NullPointerException "Uninitialized JComObject" when {@code source} is unbound
     * @throws IllegalStateException when this wrapper is bound already
     */
    protected final void shareBinding(JComObject source) {
        __JComShare(source);
    }

    // Gives one binding back (the cleaner's way).
    static void release(int comId) {
        __JComRelease(comId);
    }

    // The com-id field, for its atomic swap; looked up at the first close.
    private static final class ComId {
        static final VarHandle HANDLE;

        static {
            try {
                HANDLE = MethodHandles.lookup().findVarHandle(JComObject.class, "comId", int.class);
            } catch (ReflectiveOperationException e) {
                throw new ExceptionInInitializerError(e);
            }
        }
    }

    // One daemon thread for every wrapper, started with the first registration.
    private static final class Releaser {
        static final Cleaner CLEANER = Cleaner.create();
    }

    // Binds this wrapper to the object behind source, with a reference of its own.
    private native boolean __JComShare(JComObject source);

    // Releases one COM reference, given as the value of a com-id field.
    private static native void __JComRelease(int comId);

    /**
     * Connects the event sink held by {@code listener} to this object's connection point for the
     * sink's event interface. The sink tells which interface that is; this object must be bound
     * and must offer {@code IConnectionPointContainer}.
     *
     * @param listener the listener whose {@code eventId} holds the sink
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
     * @param listener the listener whose {@code eventId} holds the sink
     * @param cookie the connection's cookie, or 0
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
     *
     * @param on true to deliver, false to drop
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
