package jtzbench;

import java.util.List;
import java.util.function.LongSupplier;
import puente.ScanMontura;

/**
 * Events from one component thread to Java: the bridge's direct delivery and server-side
 * delivery, against the raw upcall from an attached native thread and against the component
 * firing to a native sink that only counts. A second raw upcall makes the lookups that a sink
 * which caches nothing makes for every event (class, method ID, pending exception). Each delivery has a component of its own, with one
 * connection.
 */
final class EventSuite {
    static final String RAW = "raw CallVoidMethod upcall";
    static final String RAW_LOOKUP = "raw upcall, lookups per event";
    static final String DIRECT = "direct delivery";
    static final String SERVER_SIDE = "server-side delivery";
    static final String COMPONENT = "component to no-op native sink";

    private static final int ON_CHANGE = 1;

    private final CountingListener listener = new CountingListener();
    private final ScanMontura direct = ScanMontura.create();
    private final ScanMontura serverSide = ScanMontura.create();
    private final ScanMontura bare = ScanMontura.create();
    private long serverSideEvents;

    EventSuite() {
        listener.connect(direct);
        serverSide.registerServerSideEvents();
        serverSide.addServerSideListener((name, args) -> serverSideEvents++);
    }

    List<Case> cases() {
        return List.of(
                new Case(RAW, n -> counted(n, () -> listener.changes,
                        () -> Probe.rawUpcall(listener, n, false))),
                new Case(RAW_LOOKUP, n -> counted(n, () -> listener.changes,
                        () -> Probe.rawUpcall(listener, n, true))),
                new Case(DIRECT, n -> counted(n, () -> listener.changes,
                        () -> Probe.fireBurst(direct, ON_CHANGE, n))),
                new Case(SERVER_SIDE, n -> counted(n, () -> serverSideEvents,
                        () -> Probe.fireBurst(serverSide, ON_CHANGE, n))),
                new Case(COMPONENT, n -> Probe.fireNoopSink(bare, ON_CHANGE, n)));
    }

    static List<Ratio> ratios() {
        return List.of(
                new Ratio(DIRECT + " / raw upcall", 2.5, m -> m.get(DIRECT) / m.get(RAW)),
                new Ratio(SERVER_SIDE + " / raw upcall", Double.NaN, m -> m.get(SERVER_SIDE) / m.get(RAW)),
                new Ratio(SERVER_SIDE + " / direct delivery", 2.0, m -> m.get(SERVER_SIDE) / m.get(DIRECT)),
                new Ratio("(" + DIRECT + " - component) / raw upcall", Double.NaN,
                        m -> (m.get(DIRECT) - m.get(COMPONENT)) / m.get(RAW)),
                new Ratio("raw upcall with lookups / raw upcall", Double.NaN,
                        m -> m.get(RAW_LOOKUP) / m.get(RAW)),
                new Ratio("(" + DIRECT + " - component) / raw upcall with lookups", Double.NaN,
                        m -> (m.get(DIRECT) - m.get(COMPONENT)) / m.get(RAW_LOOKUP)));
    }

    // The operation's time, or -1 unless the Java listener got exactly n events. The counter is
    // written on the delivering thread, which has ended when the operation returns.
    private static long counted(int n, LongSupplier counter, LongSupplier op) {
        long before = counter.getAsLong();
        long elapsed = op.getAsLong();
        return counter.getAsLong() - before == n ? elapsed : -1;
    }
}
