package jtzbench;

/**
 * The counting window of the allocation benchmark: heap allocations made on the calling thread
 * between {@link #begin()} and {@link #end()}. The natives are registered by the executable
 * {@code jtz_bench_alloc}, whose allocator counts; they exist in no other process.
 */
final class AllocCounter {
    private AllocCounter() {}

    /** Opens the calling thread's window, from zero. */
    static native void begin();

    /** Closes it and returns the allocations made on this thread meanwhile. */
    static native long end();

    /** The frees of the last closed window. */
    static native long frees();
}
