package jtrazelo.tracer;

import java.time.Duration;
import java.util.Objects;

/**
 * How to set up the tracer: communications port, speed, scan mode, eye, how long a scan may take
 * and how the component encodes its trace. Which numbers a component accepts for port, speed and
 * mode is the component's business: these checks only keep the values inside what can be sent
 * (port and mode travel as 16-bit numbers), and the component refuses the rest when the tracer
 * opens.
 *
 * <pre>{@code
 * TracerSettings settings = TracerSettings.builder().port(2).speed(8).eye(Eye.LEFT).build();
 * }</pre>
 *
 * @param port the communications port, 0 to 32767 (0 leaves the device without a port)
 * @param speed the scanning speed, positive
 * @param scanMode the scan mode, 1 to 32767
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

    /**
     * Checks every value; see the class description.
     *
     * @param port the communications port, 0 to 32767
     * @param speed the scanning speed, positive
     * @param scanMode the scan mode, 1 to 32767
     * @param eye the eye to trace
     * @param scanTimeout how long a scan may take, positive
     * @param traceFormat how the component encodes outline and drill holes
     * @throws IllegalArgumentException when a value is out of range
     * @throws NullPointerException when eye, time-out or format is null
     */
    public TracerSettings {
        if (port < 0 || port > Short.MAX_VALUE) {
            throw new IllegalArgumentException("port must be 0 to " + Short.MAX_VALUE + ": " + port);
        }
        if (speed <= 0) {
            throw new IllegalArgumentException("speed must be positive: " + speed);
        }
        if (scanMode <= 0 || scanMode > Short.MAX_VALUE) {
            throw new IllegalArgumentException("scan mode must be 1 to " + Short.MAX_VALUE + ": " + scanMode);
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
         * Sets the communications port.
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
