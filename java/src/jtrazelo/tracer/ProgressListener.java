package jtrazelo.tracer;

/** Follows a scan: called on the scanning thread with a rising percentage, last with 100. */
@FunctionalInterface
public interface ProgressListener {
    /** Does nothing. */
    ProgressListener NONE = (percent, message) -> {};

    /**
     * The scan has advanced.
     *
     * @param percent done so far, 0 to 100, higher than at the previous call
     * @param message what the component shows about the scan, or an empty string
     */
    void progress(int percent, String message);
}
