package jtrazelo.tracer;

import ezjcom.JComException;
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
 * the device and disconnects the listener, whatever happened before. A tracer is meant for one
 * thread at a time.
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
    private final IScanMontura device;
    private final TracerSettings settings;
    private final ChangeListener listener = new ChangeListener();
    private boolean closed;

    private Tracer(ScanMontura component, IScanMontura device, TracerSettings settings) {
        this.component = component;
        this.device = device;
        this.settings = settings;
    }

    /**
     * Creates a new component instance and opens the tracer on it.
     *
     * @throws DeviceNotReadyException when the component cannot be created, refuses a setting or
     *     is not calibrated; nothing is left open then
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
        return open(settings, component);
    }

    /**
     * Opens the tracer on a component that is already created (new, running or remote).
     *
     * @throws DeviceNotReadyException when the component cannot be bound, refuses a setting or is
     *     not calibrated; the device is closed again then
     */
    public static Tracer open(TracerSettings settings, ScanMontura component)
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
        Tracer tracer = new Tracer(component, device, settings);
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
        step("opening port " + settings.port(), () -> device.setPuertoComm((short) settings.port()));
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

    /** Returns the settings the tracer was opened with. */
    public TracerSettings settings() {
        return settings;
    }

    /** Returns the component's wrapper. */
    public ScanMontura component() {
        return component;
    }

    /**
     * Returns the bound dispatch interface, for members this class does not cover (the edit
     * control's, for example).
     */
    public IScanMontura device() {
        return device;
    }

    /** Returns the cookie of the tracer's event connection, or 0 once closed. */
    public int listenerCookie() {
        return listener.cookie();
    }

    /** Returns how many OnChange events the tracer's listener has received. */
    public long changeEvents() {
        return listener.changes();
    }

    /** Returns the device status as the component reports it (see the class description). */
    public int status() throws TracerException {
        ensureOpen();
        try {
            return device.getStatus();
        } catch (JComException e) {
            throw new TracerException("reading the device status", e);
        }
    }

    /** Scans without following the progress; see {@link #scan(ProgressListener)}. */
    public FrameTrace scan() throws TracerException {
        return scan(ProgressListener.NONE);
    }

    /**
     * Starts a scan, follows it until the component has a trace, and reads what it measured.
     * Progress is taken from the device status whenever the component signals a change (and at
     * least every few milliseconds); {@code progress} hears each new percentage, and 100 at the
     * end.
     *
     * @throws ScanFailedException when the component refuses to start, reports a failed scan, does
     *     not finish within the settings' time-out, or gives values that cannot be decoded
     * @throws DeviceNotReadyException when the port closes during the scan
     * @throws TracerException when a value cannot be read; also when the tracer is closed
     */
    public FrameTrace scan(ProgressListener progress) throws TracerException {
        Objects.requireNonNull(progress, "progress");
        ensureOpen();
        long seen = listener.changes();
        try {
            device.Explora();
        } catch (JComException e) {
            throw new ScanFailedException("starting the scan", e);
        }
        long deadline = System.nanoTime() + settings.scanTimeout().toNanos();
        int reported = -1;
        while (true) {
            int status = status();
            if (status == STATUS_TRACE) {
                break;
            }
            if (status == STATUS_FAILED) {
                throw new ScanFailedException("the tracer reports that the scan failed");
            }
            if (status == STATUS_CLOSED) {
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
                        + settings.scanTimeout().toMillis() + " ms (status " + status + ")");
            }
            seen = listener.awaitChange(seen, Math.min(POLL_MILLIS, left / 1_000_000 + 1));
        }
        progress.progress(100, text());
        return readTrace();
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
        if (closed) {
            throw new TracerException("the tracer is closed");
        }
    }

    /** Returns true once {@link #close()} has run. */
    public boolean isClosed() {
        return closed;
    }

    /**
     * Closes the device ({@code Cierra}) and disconnects the event listener. Both are attempted
     * even when the first fails or an earlier call failed; a second call does nothing.
     *
     * @throws TracerException when the component fails either step (the first failure, with the
     *     second added as suppressed)
     */
    @Override
    public void close() throws TracerException {
        if (closed) {
            return;
        }
        closed = true;
        TracerException failure = null;
        try {
            device.Cierra();
        } catch (JComException e) {
            failure = new TracerException("closing the device", e);
        } catch (RuntimeException e) {
            failure = new TracerException("closing the device: " + e, e);
        }
        try {
            listener.disconnect();
        } catch (JComException e) {
            TracerException second = new TracerException("disconnecting the event listener", e);
            if (failure == null) {
                failure = second;
            } else {
                failure.addSuppressed(second);
            }
        }
        if (failure != null) {
            throw failure;
        }
    }

    private void closeQuietly(Exception cause) {
        try {
            close();
        } catch (TracerException | RuntimeException e) {
            cause.addSuppressed(e);
        }
    }

    /** Counts the component's OnChange events and wakes the scanning thread on each one. */
    private static final class ChangeListener extends ScanMonturaAdapter {
        private final Object lock = new Object();
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

        /** Waits up to {@code millis} for a change after {@code seen}; returns the count now. */
        long awaitChange(long seen, long millis) throws TracerException {
            synchronized (lock) {
                if (changes == seen) {
                    try {
                        lock.wait(Math.max(1, millis));
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                        throw new ScanFailedException("interrupted while waiting for the scan", e);
                    }
                }
                return changes;
            }
        }
    }
}
