package jtrazelo.tracer;

import java.time.Duration;
import java.util.Objects;

/**
 * How to set up the tracer: communications port, speed, scan mode, eye, how long a scan may take
 * and how the component encodes its trace. Every value is checked against the device's ranges
 * when the settings are made ({@link Builder#build()}), before any device is touched:
 *
 * <ul>
 *   <li><b>port</b> 1 to 16: the serial port the tracer is connected to, {@code COM}<i>n</i> on
 *       Windows for port <i>n</i> (port 3 is {@code COM3}); the simulated component holds a frame
 *       in the tracer of each;
 *   <li><b>speed</b> 1 (slowest, most careful) to 10 (fastest); the simulated tracer takes
 *       2000 ms / speed for a scan;
 *   <li><b>scan mode</b> 1 (400 points per outline) or 2 (1000 points);
 *   <li><b>scan time-out</b> positive; one too long for any scan (beyond about 292 years, as
 *       {@code ChronoUnit.FOREVER.getDuration()}) means no limit.
 * </ul>
 *
 * <pre>{@code
 * TracerSettings settings = TracerSettings.builder().port(2).speed(8).eye(Eye.LEFT).build();
 * }</pre>
 *
 * @param port the communications port, 1 to 16 (COM1 to COM16)
 * @param speed the scanning speed, 1 to 10
 * @param scanMode the scan mode, 1 (400 points) or 2 (1000 points)
 * @param eye the eye to trace
 * @param scanTimeout how long a scan may take before it counts as failed, positive
 * @param traceFormat how the component encodes outline and drill holes
 */
public record TracerSettings(int port, int speed, int scanMode, Eye eye, Duration scanTimeout,
        TraceFormat traceFormat) {
    /** Port of {@link #builder()}. */
    public static final int DEFAULT_PORT = 1;
    /** Speed of {@link #builder()}. */
    public static final int DEFAULT_SPEED = 5;
    /** Scan mode of {@link #builder()}. */
    public static final int DEFAULT_SCAN_MODE = 1;
    /** Scan time-out of {@link #builder()}. */
    public static final Duration DEFAULT_SCAN_TIMEOUT = Duration.ofSeconds(60);
    /** Highest port number: the device's ports are 1 to 16. */
    public static final int MAX_PORT = 16;
    /** Highest speed: the device's speeds are 1 to 10. */
    public static final int MAX_SPEED = 10;

    /**
     * Checks every value; see the class description.
     *
     * @param port the communications port, 1 to 16
     * @param speed the scanning speed, 1 to 10
     * @param scanMode the scan mode, 1 or 2
     * @param eye the eye to trace
     * @param scanTimeout how long a scan may take, positive
     * @param traceFormat how the component encodes outline and drill holes
     * @throws IllegalArgumentException when a value is out of range
     * @throws NullPointerException when eye, time-out or format is null
     */
    public TracerSettings {
        if (port < 1 || port > MAX_PORT) {
            throw new IllegalArgumentException("port must be 1 to " + MAX_PORT + " (COM1 to COM" + MAX_PORT
                    + "): " + port);
        }
        if (speed < 1 || speed > MAX_SPEED) {
            throw new IllegalArgumentException("speed must be 1 to " + MAX_SPEED + ": " + speed);
        }
        if (scanMode != 1 && scanMode != 2) {
            throw new IllegalArgumentException("scan mode must be 1 (400 points) or 2 (1000 points): " + scanMode);
        }
        Objects.requireNonNull(eye, "eye");
        Objects.requireNonNull(scanTimeout, "scanTimeout");
        if (scanTimeout.isNegative() || scanTimeout.isZero()) {
            throw new IllegalArgumentException("scan time-out must be positive: " + scanTimeout);
        }
        Objects.requireNonNull(traceFormat, "traceFormat");
    }

    /**
     * Returns a builder holding the defaults: port 1, speed 5, mode 1, right eye, 60 s.
     *
     * @return a new builder
     */
    public static Builder builder() {
        return new Builder();
    }

    /**
     * Returns a builder holding these settings.
     *
     * @return a new builder
     */
    public Builder toBuilder() {
        return new Builder().port(port).speed(speed).scanMode(scanMode).eye(eye)
                .scanTimeout(scanTimeout).traceFormat(traceFormat);
    }

    /** Collects settings; {@link #build()} checks them. */
    public static final class Builder {
        private int port = DEFAULT_PORT;
        private int speed = DEFAULT_SPEED;
        private int scanMode = DEFAULT_SCAN_MODE;
        private Eye eye = Eye.RIGHT;
        private Duration scanTimeout = DEFAULT_SCAN_TIMEOUT;
        private TraceFormat traceFormat = DeltaTraceFormat.INSTANCE;

        private Builder() {}

        /**
         * Sets the communications port: {@code n} for {@code COMn}, 1 to 16.
         *
         * @param value the communications port
         * @return this builder
         */
        public Builder port(int value) {
            port = value;
            return this;
        }

        /**
         * Sets the scanning speed.
         *
         * @param value the scanning speed
         * @return this builder
         */
        public Builder speed(int value) {
            speed = value;
            return this;
        }

        /**
         * Sets the scan mode.
         *
         * @param value the scan mode
         * @return this builder
         */
        public Builder scanMode(int value) {
            scanMode = value;
            return this;
        }

        /**
         * Sets the eye to trace.
         *
         * @param value the eye to trace
         * @return this builder
         */
        public Builder eye(Eye value) {
            eye = value;
            return this;
        }

        /**
         * Sets how long a scan may take.
         *
         * @param value how long a scan may take
         * @return this builder
         */
        public Builder scanTimeout(Duration value) {
            scanTimeout = value;
            return this;
        }

        /**
         * Sets how the component encodes its trace.
         *
         * @param value how the component encodes its trace
         * @return this builder
         */
        public Builder traceFormat(TraceFormat value) {
            traceFormat = value;
            return this;
        }

        /**
         * Returns the settings.
         *
         * @return the checked settings
         * @throws IllegalArgumentException when a value is out of range
         * @throws NullPointerException when eye, time-out or format is null
         */
        public TracerSettings build() {
            return new TracerSettings(port, speed, scanMode, eye, scanTimeout, traceFormat);
        }
    }
}
