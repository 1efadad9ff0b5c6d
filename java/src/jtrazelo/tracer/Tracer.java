package jtrazelo.tracer;

import ezjcom.JComException;
import java.time.Duration;
import java.util.List;
import java.util.Objects;
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

    private final ScanMontura component;
    private final boolean ownsComponent;
    private final IScanMontura device;
    private final TracerSettings settings;
    private final ChangeListener listener = new ChangeListener();

    // Scan and close state, guarded by the listener's lock (which also carries the change
    // notifications the scanning thread waits for); never held while the component is called.
    private Thread scanner;
    private boolean cancelRequested;
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
     * @param settings how to set the tracer up
     * @param component the bound component
     * @return the open tracer
     * @throws DeviceNotReadyException when the component cannot be bound, refuses a setting or is
     *     not calibrated; the device is closed again then
     */
    public static Tracer open(TracerSettings settings, ScanMontura component)
            throws DeviceNotReadyException {
        return open(settings, component, false);
    }

    private static Tracer open(TracerSettings settings, ScanMontura component, boolean owned)
            throws DeviceNotReadyException {
        Objects.requireNonNull(settings, "settings");
        Objects.requireNonNull(component, "component");
        IScanMontura device;
        try {
            device = component.dispatch();
        } catch (JComException e) {
            throw new DeviceNotReadyException("binding IScanMontura", e);
        } catch (IllegalStateException e) {
            throw new DeviceNotReadyException("binding IScanMontura: " + e.getMessage());
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
     * @throws TracerException when the status cannot be read, or the tracer is closed
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
     * @param progress hears each new percentage, on this thread; what it throws stops the scan and
     *     is thrown on
     * @param timeout how long the scan may take
     * @return the trace
     * @throws ScanCancelledException when {@link #cancel()} or {@link #close()} stopped the scan,
     *     or this thread was interrupted (its interrupt flag is set again)
     * @throws ScanFailedException when the component refuses to start, reports a failed scan (the
     *     exception carries the component's description of it), does not finish in time, or gives
     *     values that cannot be decoded
     * @throws DeviceNotReadyException when the port closes during the scan
     * @throws TracerException when a value cannot be read; also when the tracer is closed or
     *     another thread is scanning
     */
    public FrameTrace scan(ProgressListener progress, Duration timeout) throws TracerException {
        Objects.requireNonNull(progress, "progress");
        Objects.requireNonNull(timeout, "timeout");
        synchronized (listener.lock) {
            ensureOpen();
            if (scanner != null) {
                throw new TracerException("another thread is scanning (" + scanner.getName() + ")");
            }
            scanner = Thread.currentThread();
            cancelRequested = false;
        }
        boolean deviceScanning = false;
        Throwable failure = null;
        try {
            long seen = listener.changes();
            try {
                device.Explora();
            } catch (JComException e) {
                throw new ScanFailedException("starting the scan", e);
            }
            deviceScanning = true;
            long deadline = System.nanoTime() + Math.max(0, timeout.toNanos());
            int reported = -1;
            while (true) {
                checkCancelled();
                int status = readStatus();
                if (status == STATUS_TRACE) {
                    break;
                }
                if (status == STATUS_FAILED) {
                    deviceScanning = false;
                    throw new ScanFailedException("the tracer reports that the scan failed", text(), 0);
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
                long left = deadline - System.nanoTime();
                if (left <= 0) {
                    throw new ScanFailedException("the scan did not finish within "
                            + timeout.toMillis() + " ms (status " + status + ")");
                }
                seen = listener.awaitChange(seen, Math.min(POLL_MILLIS, left / 1_000_000 + 1));
            }
            deviceScanning = false;
            progress.progress(100, text());
            return readTrace();
        } catch (TracerException | RuntimeException | Error e) {
            failure = e;
            throw e;
        } finally {
            finishScan(deviceScanning, failure);
        }
    }

    private void checkCancelled() throws ScanCancelledException {
        synchronized (listener.lock) {
            if (cancelRequested) {
                throw new ScanCancelledException(closed ? "the tracer was closed during the scan"
                        : "the scan was cancelled");
            }
        }
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
     * @return true when a scan was running and has been told to stop
     */
    public boolean cancel() {
        synchronized (listener.lock) {
            if (scanner == null) {
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
                throw new ScanFailedException("decoding the trace: " + e.getMessage(), e);
            }
            return new FrameTrace(settings.eye(), radii, device.getBoxH(), device.getBoxV(),
                    device.getDistBorde(), device.getDistCentro(), device.getBase(),
                    device.getPerimetro(), drillHoles);
        } catch (JComException e) {
            throw new TracerException("reading the trace", e);
        }
    }

    private void ensureOpen() throws TracerException {
        synchronized (listener.lock) {
            if (closed) {
                throw new TracerException("the tracer is closed");
            }
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
     * with {@link ScanCancelledException} and the tracer is closed as it unwinds.
     *
     * @throws TracerException when the component fails a step (the first failure, with the others
     *     added as suppressed)
     */
    @Override
    public void close() throws TracerException {
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
            throw failure;
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
        } catch (TracerException | RuntimeException e) {
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
