package jtzbench;

import java.util.Locale;

/**
 * Heap allocations per operation of the member cases, counted on the calling thread by the
 * process's own allocator (run by {@code jtz_bench_alloc} only). Each case is warmed up first, so
 * that class loading, linking and compilation are not counted.
 */
public final class AllocBench {
    private AllocBench() {}

    public static void main(String[] args) {
        int calls = args.length > 0 ? Integer.parseInt(args[0]) : 20_000;
        MemberSuite suite = new MemberSuite();
        System.out.printf(Locale.ROOT, "%n== allocations: heap allocations and frees per call on the calling thread,"
                + " %d calls%n", calls);
        System.out.printf(Locale.ROOT, "%-34s %12s %12s %10s %10s%n", "case", "allocs/call", "frees/call",
                "allocs", "frees");
        for (Case c : suite.cases()) {
            // Short runs first, so that the loop is compiled as a whole method and later runs
            // enter it compiled (an entry into a loop compiled on stack replacement allocates).
            for (int warm = 0; warm < 3000; warm++) {
                run(c, 20);
            }
            for (int warm = 0; warm < 3; warm++) {
                run(c, calls);
            }
            AllocCounter.begin();
            run(c, calls);
            long allocs = AllocCounter.end();
            long frees = AllocCounter.frees();
            System.out.printf(Locale.ROOT, "%-34s %12.3f %12.3f %10d %10d%n", c.name(), (double) allocs / calls,
                    (double) frees / calls, allocs, frees);
        }
        System.out.flush();
    }

    private static void run(Case c, int calls) {
        if (c.op().run(calls) < 0) {
            throw new IllegalStateException(c.name() + ": the operation failed");
        }
    }
}
