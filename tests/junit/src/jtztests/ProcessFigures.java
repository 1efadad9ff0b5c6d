package jtztests;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.stream.Stream;

/** What the operating system counts for this process (Linux /proc): native threads and RSS. */
public final class ProcessFigures {
    private ProcessFigures() {}

    /** Native threads of this process, Java's and the component's alike. */
    public static long threads() {
        try (Stream<Path> tasks = Files.list(Path.of("/proc/self/task"))) {
            return tasks.count();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** Resident set size, kB. */
    public static long residentKb() {
        try {
            for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
                if (line.startsWith("VmRSS:")) {
                    return Long.parseLong(line.replaceAll("[^0-9]", ""));
                }
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        throw new IllegalStateException("no VmRSS in /proc/self/status");
    }

    /** The thread count once the threads of components let go of just now have had time to end. */
    public static long settledThreads() throws InterruptedException {
        return awaitThreadsAtMost(0, 500);
    }

    /**
     * Waits until at most {@code limit} threads are left (threads of released components end
     * shortly after their last reference goes); returns the count then, or the last count seen
     * when {@code patienceMillis} pass first.
     */
    public static long awaitThreadsAtMost(long limit, long patienceMillis) throws InterruptedException {
        long deadline = System.nanoTime() + patienceMillis * 1_000_000;
        long now = threads();
        while (now > limit && System.nanoTime() < deadline) {
            System.gc();
            Thread.sleep(20);
            now = threads();
        }
        return now;
    }
}
