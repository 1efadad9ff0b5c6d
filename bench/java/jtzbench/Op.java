package jtzbench;

/** One measured operation, made {@code n} times. */
@FunctionalInterface
interface Op {
    /** Makes the operation {@code n} times; returns the elapsed nanoseconds, negative on failure. */
    long run(int n);
}
