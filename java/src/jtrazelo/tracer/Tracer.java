package jtrazelo.tracer;

import ezjcom.JComException;
import java.time.Duration;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Objects;
import java.util.WeakHashMap;
import puente.IScanMontura;
import puente.ScanMontura;
import puente.ScanMonturaAdapter;

/**
 * An eyeglass-frame tracer driven through the ScanMontura component.
 *
 * <pre>{@code
 * try (Tracer tracer = Tracer.open(TracerSettings.builder().port(1).build())) {
 *     FrameTrace trace = tracer.scan((percent, message) -> System.out.println(percent + "%"));
 *     System.out.println(trace.boxWidth());
 * }
 * }</pre>
 *
 * <p>{@link #open(TracerSettings)} creates the component, binds its interface, connects a listener
 * for its events, opens the port, sets speed, scan mode and eye and checks the calibration.
 * {@link #scan(ProgressListener)} starts a scan and waits for its trace. {@link #close()} closes
 * the device, disconnects the listener and gives back every COM reference the tracer took,
 * whatever happened before.
 *
 * <p>A scan stops before its trace when it runs out of time, when its thread is interrupted, when
 * its progress listener throws, or when {@link #cancel()} is called from another thread: the
 * tracer then stops the device's scan ({@code Cierra}), opens the port again and is ready for the
 * next scan. A tracer is meant for one thread at a time, except for {@link #cancel()} and
 * {@link #close()}, which any thread may call while a scan runs.
 *
 * <p>A component drives one tracer device, and takes one open tracer at a time (see
 * {@link #open(TracerSettings, ScanMontura)}). Once a tracer is closed, or its component closed,
 * its members throw {@link IllegalStateException} naming what is closed; {@link #close()} may come
 * any number of times, before or after the component's.
 *
 * <p>Device status codes, as the component reports them: 0 port closed, 1 ready, 100 + p
 * scanning (p percent done), 200 trace available, -1 scan failed.
 */
public final class Tracer implements AutoCloseable {
    static final int STATUS_CLOSED = 0;
    static final int STATUS_SCANNING = 100;
    static final int STATUS_TRACE = 200;
    static final int STATUS_FAILED = -1;

    /** Longest wait between two status readings while no event arrives, ms. */
    private static final long POLL_MILLIS = 25;

    // The components that have an open tracer, each with a word on that tracer. Weak: the
    // component of a tracer that was never closed can still go once both are unreachable.
    private static final Map<ScanMontura, String> IN_USE = new WeakHashMap<>();

    private final ScanMontura component;
    private final boolean ownsComponent;
    private final IScanMontura device;
    private final TracerSettings settings;
    private final ChangeListener listener = new ChangeListener();

    // Scan and close state, guarded by the listener's lock (which also carries the change
    // notifications the scanning thread waits for); never held while the component is called.
    private Thread scanner;
    private boolean cancelRequested;
    private boolean committed;  // the scan has its trace and can no longer be cancelled
    private boolean closed;
    private boolean released;

    private Tracer(ScanMontura component, boolean ownsComponent, IScanMontura device,
            TracerSettings settings) {
        this.component = component;
        this.ownsComponent = ownsComponent;
        this.device = device;
        this.settings = settings;
    }

    /**
     * Creates a new component instance and opens the tracer on it; the tracer owns the component
     * and gives it back when closed.
     *
     * @param settings how to set the tracer up
     * @return the open tracer
     * @throws DeviceNotReadyException when the component cannot be created, refuses a setting or
     *     is not calibrated; nothing is left open then
     * @throws ezjcom.NativeLibraryError when the native libraries could not be loaded
     */
    public static Tracer open(TracerSettings settings) throws DeviceNotReadyException {
        Objects.requireNonNull(settings, "settings");
        ScanMontura component;
        try {
            component = ScanMontura.create();
        } catch (JComException e) {
            throw new DeviceNotReadyException("creating the ScanMontura component", e);
        } catch (IllegalStateException e) {
            throw new DeviceNotReadyException("creating the ScanMontura component: " + e.getMessage());
        }
        try {
            return open(settings, component, true);
        } catch (DeviceNotReadyException | RuntimeException | Error e) {
            component.close();
            throw e;
        }
    }

    /**
     * Opens the tracer on a component that is already created (new, running or remote). The
     * component stays the caller's: closing the tracer gives back only what the tracer bound.
     *
     * <p>A component drives one tracer device, so it takes <em>one open tracer at a time</em>:
     * while a tracer opened on {@code component} is not closed, opening another one on it throws
     * {@link DeviceNotReadyException} naming the open tracer's port and eye (two tracers would
     * overwrite each other's port, speed, mode and eye on the one device, and a scan through one
     * would measure with the other's settings). To scan the other eye, close the tracer and open
     * one with the other eye, in turn. The rule goes by wrapper: a second wrapper of the same
     * running instance ({@link ScanMontura#getActive()}) is not recognised as the same component,
     * so open the tracers of one instance through one wrapper.
     *
     * @param settings how to set the tracer up
     * @param component the bound component
     * @return the open tracer
     * @throws DeviceNotReadyException when the component already has an open tracer, cannot be
     *     bound, refuses a setting or is not calibrated; the device is closed again then
     * @throws IllegalStateException when {@code component} is closed (or was never bound)
     */
    public static Tracer open(TracerSettings settings, ScanMontura component)
            throws DeviceNotReadyException {
        return open(settings, component, false);
    }

    private static Tracer open(TracerSettings settings, ScanMontura component, boolean owned)
            throws DeviceNotReadyException {
        Objects.requireNonNull(settings, "settings");
        Objects.requireNonNull(component, "component");
        if (!component.isBound()) {
            throw new IllegalStateException("Tracer: the ScanMontura component is closed");
        }
        claim(component, settings);
        IScanMontura device;
        try {
            device = component.dispatch();
        } catch (JComException e) {
            release(component);
            throw new DeviceNotReadyException("binding IScanMontura", e);
        } catch (RuntimeException | Error e) {
            release(component);
            throw e;
        }
        Tracer tracer = new Tracer(component, owned, device, settings);
        try {
            tracer.setUp();
        } catch (DeviceNotReadyException | RuntimeException e) {
            tracer.closeQuietly(e);
            throw e;
        }
        return tracer;
    }

    // Makes the tracer about to open the component's one open tracer.
    private static void claim(ScanMontura component, TracerSettings settings) throws DeviceNotReadyException {
        synchronized (IN_USE) {
            String open = IN_USE.get(component);
            if (open != null) {
                throw new DeviceNotReadyException("the component already has an open tracer (" + open
                        + "): close it before opening another");
            }
            IN_USE.put(component, "port " + settings.port() + ", "
                    + settings.eye().name().toLowerCase(Locale.ROOT) + " eye");
        }
    }

    private static void release(ScanMontura component) {
        synchronized (IN_USE) {
            IN_USE.remove(component);
        }
    }

    private void setUp() throws DeviceNotReadyException {
        step("connecting the event listener", () -> listener.connect(component));
        openPort();
        step("setting speed " + settings.speed(), () -> device.setVelocidad(settings.speed()));
        step("setting scan mode " + settings.scanMode(),
                () -> device.setModoScan((short) settings.scanMode()));
        step("setting the eye", () -> device.setOjo(settings.eye().code()));
        short calibration = 0;
        try {
            calibration = device.getCalibrado();
        } catch (JComException e) {
            throw new DeviceNotReadyException("reading the calibration", e);
        }
        if (calibration == 0) {
            throw new DeviceNotReadyException("the tracer on port " + settings.port()
                    + " is not calibrated (is the port open?)");
        }
    }

    private void openPort() throws DeviceNotReadyException {
        step("opening port " + settings.port(), () -> device.setPuertoComm((short) settings.port()));
    }

    private interface Step {
        void run();
    }

    private static void step(String what, Step step) throws DeviceNotReadyException {
        try {
            step.run();
        } catch (JComException e) {
            throw new DeviceNotReadyException(what, e);
        }
    }

    /**
     * Returns the settings the tracer was opened with.
     *
     * @return the settings
     */
    public TracerSettings settings() {
        return settings;
    }

    /**
     * Returns the component's wrapper. When the tracer created it ({@link #open(TracerSettings)}),
     * closing the tracer gives it back: it reads as unbound then.
     *
     * @return the component
     */
    public ScanMontura component() {
        return component;
    }

    /**
     * Returns the bound dispatch interface, for members this class does not cover (the edit
     * control's, for example). The tracer gives it back when closed: it reads as unbound then.
     *
     * @return the dispatch interface
     */
    public IScanMontura device() {
        return device;
    }

    /**
     * Returns the cookie of the tracer's event connection, or 0 once closed.
     *
     * @return the cookie, or 0
     */
    public int listenerCookie() {
        return listener.cookie();
    }

    /**
     * Returns how many OnChange events the tracer's listener has received.
     *
     * @return the number of events so far
     */
    public long changeEvents() {
        return listener.changes();
    }

    /**
     * Returns the device status as the component reports it (see the class description).
     *
     * @return the status code
     * @throws TracerException when the status cannot be read
     * @throws IllegalStateException when the tracer or its component is closed
     */
    public int status() throws TracerException {
        ensureOpen();
        return readStatus();
    }

    private int readStatus() throws TracerException {
        try {
            return device.getStatus();
        } catch (JComException e) {
            throw new TracerException("reading the device status", e);
        }
    }

    /**
     * Scans without following the progress; see {@link #scan(ProgressListener)}.
     *
     * @return the trace
     * @throws TracerException as {@link #scan(ProgressListener)}
     */
    public FrameTrace scan() throws TracerException {
        return scan(ProgressListener.NONE);
    }

    /**
     * Scans within the settings' time-out; see {@link #scan(ProgressListener, Duration)}.
     *
     * @param progress hears each new percentage
     * @return the trace
     * @throws TracerException as {@link #scan(ProgressListener, Duration)}
     */
    public FrameTrace scan(ProgressListener progress) throws TracerException {
        return scan(progress, settings.scanTimeout());
    }

    /**
     * Starts a scan, follows it until the component has a trace, and reads what it measured.
     * Progress is taken from the device status whenever the component signals a change (and at
     * least every few milliseconds); {@code progress} hears each new percentage, and 100 at the
     * end. A scan that does not end with a trace (time-out, interrupt, cancel, a throwing
     * {@code progress}) is stopped on the device, and the port opened again for the next scan.
     *
     * <p>The arguments are checked before the device is touched. A time-out too long for any
     * scan, one whose nanoseconds do not fit in a {@code long} (about 292 years, as
     * {@code ChronoUnit.FOREVER.getDuration()}), means no limit.
     *
     * @param progress hears each new percentage, on this thread; what it throws stops the scan and
     *     is thrown on
     * @param timeout how long the scan may take, positive
     * @return the trace
     * @throws ScanCancelledException when {@link #cancel()} or {@link #close()} stopped the scan,
     *     or this thread was interrupted (its interrupt flag is set again)
     * @throws ScanFailedException when the component refuses to start, reports a failed scan (the
     *     exception carries the component's description of it), does not finish in time, or gives
     *     values that cannot be read or decoded; {@link ScanFailedException#reason()} says which
     * @throws DeviceNotReadyException when the port closes during the scan
     * @throws TracerException when the status cannot be read, or another thread is scanning
     * @throws IllegalArgumentException when {@code timeout} is zero or negative
     * @throws IllegalStateException when the tracer or its component is closed
     */
    public FrameTrace scan(ProgressListener progress, Duration timeout) throws TracerException {
        Objects.requireNonNull(progress, "progress");
        Objects.requireNonNull(timeout, "timeout");
        if (timeout.isNegative() || timeout.isZero()) {
            throw new IllegalArgumentException("the scan's time-out must be positive: " + timeout);
        }
        long limitNanos = nanosOrNoLimit(timeout);
        synchronized (listener.lock) {
            ensureOpen();
            if (scanner != null) {
                throw new TracerException("another thread is scanning (" + scanner.getName() + ")");
            }
            scanner = Thread.currentThread();
            cancelRequested = false;
            committed = false;
        }
        boolean deviceScanning = false;
        Throwable failure = null;
        try {
            long seen = listener.changes();
            try {
                device.Explora();
            } catch (JComException e) {
                throw new ScanFailedException(ScanFailedException.Reason.REFUSED, "starting the scan", e);
            }
            deviceScanning = true;
            long start = System.nanoTime();
            int reported = -1;
            while (true) {
                checkCancelled();
                int status = readStatus();
                if (status == STATUS_TRACE) {
                    break;
                }
                if (status == STATUS_FAILED) {
                    deviceScanning = false;
                    String text = text();
                    ScanFailedException.Reason reason = text.toLowerCase(Locale.ROOT).contains("no frame")
                            ? ScanFailedException.Reason.NO_FRAME : ScanFailedException.Reason.DEVICE_FAILED;
                    throw new ScanFailedException(reason, "the tracer reports that the scan failed", text, 0);
                }
                if (status == STATUS_CLOSED) {
                    deviceScanning = false;
                    throw new DeviceNotReadyException("the port closed during the scan");
                }
                if (status >= STATUS_SCANNING && status < STATUS_TRACE) {
                    int percent = status - STATUS_SCANNING;
                    if (percent > reported) {
                        reported = percent;
                        progress.progress(percent, text());
                    }
                }
                long elapsed = System.nanoTime() - start;
                if (elapsed >= limitNanos) {
                    throw new ScanFailedException(ScanFailedException.Reason.TIMED_OUT,
                            "the scan did not finish within " + timeout.toMillis() + " ms (status " + status + ")");
                }
                seen = listener.awaitChange(seen, Math.min(POLL_MILLIS, (limitNanos - elapsed) / 1_000_000 + 1));
            }
            deviceScanning = false;
            progress.progress(100, text());
            synchronized (listener.lock) {
                // From here on the scan gives its trace: a cancel() that came first wins, a later
                // one answers false.
                if (cancelRequested) {
                    throw cancelled();
                }
                committed = true;
            }
            return readTrace();
        } catch (TracerException | RuntimeException | Error e) {
            failure = e;
            throw e;
        } finally {
            finishScan(deviceScanning, failure);
        }
    }

    // The time-out in nanoseconds; Long.MAX_VALUE (292 years) where they do not fit.
    private static long nanosOrNoLimit(Duration timeout) {
        try {
            return timeout.toNanos();
        } catch (ArithmeticException e) {
            return Long.MAX_VALUE;
        }
    }

    private void checkCancelled() throws ScanCancelledException {
        synchronized (listener.lock) {
            if (cancelRequested) {
                throw cancelled();
            }
        }
    }

    // Called with the lock held.
    private ScanCancelledException cancelled() {
        return new ScanCancelledException(closed ? "the tracer was closed during the scan" : "the scan was cancelled");
    }

    // Stops the device's scan where one may still run, then lets close() go on, or tears down
    // here when close() was called on this very thread (from the progress listener).
    private void finishScan(boolean deviceScanning, Throwable failure) {
        if (deviceScanning) {
            stopDeviceScan(failure);
        }
        boolean tearDown;
        synchronized (listener.lock) {
            scanner = null;
            tearDown = closed && !released;
            released |= tearDown;
            listener.lock.notifyAll();
        }
        if (tearDown) {
            TracerException problem = tearDown();
            if (problem != null && failure != null) {
                failure.addSuppressed(problem);
            }
        }
    }

    private void stopDeviceScan(Throwable failure) {
        try {
            device.Cierra();
            boolean reopen;
            synchronized (listener.lock) {
                reopen = !closed;
            }
            if (reopen) {
                openPort();
            }
        } catch (JComException | DeviceNotReadyException e) {
            if (failure != null) {
                failure.addSuppressed(new TracerException("stopping the scan", e));
            }
        } catch (RuntimeException e) {
            if (failure != null) {
                failure.addSuppressed(e);
            }
        }
    }

    /**
     * Stops the scan under way, if any: the scanning thread's {@link #scan(ProgressListener)}
     * stops the device's scan and throws {@link ScanCancelledException}, and the tracer is ready
     * for the next scan. Callable from any thread; returns at once.
     *
     * <p>True is a promise: that scan ends with {@link ScanCancelledException}. Once a scan has
     * its trace and is reading it, it is too late to stop it, and the answer is false.
     *
     * @return true when a scan was running and will end cancelled; false when no scan runs or it
     *     is too late to stop it
     */
    public boolean cancel() {
        synchronized (listener.lock) {
            if (scanner == null || committed) {
                return false;
            }
            cancelRequested = true;
            listener.lock.notifyAll();
            return true;
        }
    }

    private String text() {
        try {
            String text = device.getText();
            return text == null ? "" : text;
        } catch (JComException e) {
            return "";
        }
    }

    private FrameTrace readTrace() throws TracerException {
        try {
            float initialRadius = device.getRadioIni();
            String deltas = device.getRadioDeltas();
            String holes = device.getTaladros();
            double[] radii;
            List<DrillHole> drillHoles;
            try {
                radii = settings.traceFormat().decodeRadii(initialRadius, deltas);
                drillHoles = settings.traceFormat().decodeDrillHoles(holes);
            } catch (IllegalArgumentException e) {
                throw new ScanFailedException(ScanFailedException.Reason.UNREADABLE_TRACE,
                        "decoding the trace: " + e.getMessage(), e);
            }
            return new FrameTrace(settings.eye(), radii, device.getBoxH(), device.getBoxV(),
                    device.getDistBorde(), device.getDistCentro(), device.getBase(),
                    device.getPerimetro(), drillHoles);
        } catch (JComException e) {
            throw new ScanFailedException(ScanFailedException.Reason.UNREADABLE_TRACE, "reading the trace", e);
        }
    }

    private void ensureOpen() {
        synchronized (listener.lock) {
            if (closed) {
                throw new IllegalStateException("Tracer: the tracer is closed");
            }
        }
        if (!ownsComponent && !component.isBound()) {
            throw new IllegalStateException("Tracer: the tracer's ScanMontura component is closed");
        }
    }

    /**
     * Returns true once {@link #close()} has run.
     *
     * @return whether the tracer is closed
     */
    public boolean isClosed() {
        synchronized (listener.lock) {
            return closed;
        }
    }

    /**
     * Closes the device ({@code Cierra}), disconnects the event listener and gives back every COM
     * reference the tracer took: its dispatch interface, and the component when the tracer created
     * it. All steps are attempted even when one fails or an earlier call failed; a second call
     * does nothing. A scan running on another thread is stopped first, and this call waits for it
     * to end; called from the scanning thread itself (by its progress listener), the scan ends
     * with {@link ScanCancelledException} and the tracer is closed as it unwinds. The component
     * may have been closed before: what is left of the tracer is given back all the same.
     *
     * @throws UncheckedTracerException when the component fails a step (the first failure, with
     *     the others added as suppressed, is its cause); the tracer is closed all the same
     */
    @Override
    public void close() {
        synchronized (listener.lock) {
            if (closed) {
                return;
            }
            closed = true;
            if (scanner != null) {
                cancelRequested = true;
                listener.lock.notifyAll();
                if (scanner == Thread.currentThread()) {
                    return;  // the scan tears down as it unwinds
                }
                boolean interrupted = false;
                while (scanner != null) {
                    try {
                        listener.lock.wait();
                    } catch (InterruptedException e) {
                        interrupted = true;
                    }
                }
                if (interrupted) {
                    Thread.currentThread().interrupt();
                }
            }
            if (released) {
                return;
            }
            released = true;
        }
        TracerException failure = tearDown();
        if (failure != null) {
            throw new UncheckedTracerException(failure);
        }
    }

    // Closes the device, disconnects the listener and gives back the references; the first
    // failure, with the others suppressed, or null.
    private TracerException tearDown() {
        TracerException failure = null;
        try {
            device.Cierra();
        } catch (JComException e) {
            failure = new TracerException("closing the device", e);
        } catch (RuntimeException e) {
            failure = new TracerException("closing the device: " + e, e);
        }
        try {
            listener.close();
        } catch (JComException e) {
            failure = add(failure, new TracerException("disconnecting the event listener", e));
        } catch (RuntimeException e) {
            failure = add(failure, new TracerException("disconnecting the event listener: " + e, e));
        }
        device.close();
        if (ownsComponent) {
            try {
                component.close();
            } catch (JComException e) {
                failure = add(failure, new TracerException("releasing the component", e));
            } catch (RuntimeException e) {
                failure = add(failure, new TracerException("releasing the component: " + e, e));
            }
        }
        release(component);
        return failure;
    }

    private static TracerException add(TracerException first, TracerException next) {
        if (first == null) {
            return next;
        }
        first.addSuppressed(next);
        return first;
    }

    private void closeQuietly(Exception cause) {
        try {
            close();
        } catch (UncheckedTracerException e) {
            cause.addSuppressed(e.getCause());
        } catch (RuntimeException e) {
            cause.addSuppressed(e);
        }
    }

    /** Counts the component's OnChange events and wakes the scanning thread on each one. */
    private final class ChangeListener extends ScanMonturaAdapter {
        final Object lock = new Object();
        private long changes;

        @Override
        public void OnChange() {
            synchronized (lock) {
                changes++;
                lock.notifyAll();
            }
        }

        long changes() {
            synchronized (lock) {
                return changes;
            }
        }

        /**
         * Waits up to {@code millis} for a change after {@code seen}, or a cancel; returns the
         * count now.
         */
        long awaitChange(long seen, long millis) throws TracerException {
            synchronized (lock) {
                if (changes == seen && !cancelRequested) {
                    try {
                        lock.wait(Math.max(1, millis));
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                        throw new ScanCancelledException("interrupted while waiting for the scan", e);
                    }
                }
                return changes;
            }
        }
    }
}
