package jtztest;

import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;
import jtrazelo.tracer.ScanCancelledException;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerException;
import jtrazelo.tracer.TracerSettings;
import puente.IScanMontura;
import puente.IScanMonturaEvents;
import puente.Registration;
import puente.ScanMontura;

/**
 * Several threads doing random operations on components and on what is made through them:
 * creating, calling, closing and dropping wrappers, opening and closing typed, name-matched and
 * server-side registrations, firing events, scanning with a tracer and cancelling the scan,
 * collecting garbage. Each thread draws from a
 * {@link Random} of its own, seeded from the run's seed.
 *
 * <p>Invariants, checked as the run goes and at its end:
 *
 * <ul>
 *   <li>every operation either succeeds or fails the one way a closed wrapper fails
 *       ({@link IllegalStateException} "ScanMontura is closed", or "Uninitialized JComObject" from
 *       a member of a closed interface wrapper);
 *   <li>once a component's wrapper is closed, none of its registrations is open;
 *   <li>every fired event reaches each registration that was open throughout the firing exactly
 *       once; one opened or closed meanwhile gets it at most once; and no typed listener is called
 *       once its registration's {@code close()} has returned;
 *   <li>at the end, with everything closed or dropped, every component wrapper is collected.
 * </ul>
 *
 * What the runtime and the JVM keep (bindings, connections, global references, threads, live
 * components) is checked by the caller, around {@link #run(long, int, int)}.
 */
public final class LifetimeStress {
    private static final String CLOSED = "ScanMontura is closed";
    private static final String UNBOUND = "Uninitialized JComObject";
    private static final int MAX_COMPONENTS = 6;
    private static final long PATIENCE_NANOS = 20_000_000_000L;

    private final List<Comp> pool = new ArrayList<>();  // guarded by itself
    private final List<WeakReference<ScanMontura>> made = new ArrayList<>();  // guarded by pool
    private final List<Reg> regs = new ArrayList<>();  // every registration ever made; guarded by pool
    private final ConcurrentLinkedQueue<String> violations = new ConcurrentLinkedQueue<>();
    private final AtomicLong fired = new AtomicLong();

    /**
     * One registration (typed, name-matched, or a component's server-side delivery) and its
     * counts. It holds what it counts, never the component's wrapper.
     */
    private static final class Reg {
        final String kind;
        final AtomicInteger got = new AtomicInteger();
        volatile boolean closeReturned;
        volatile AutoCloseable handle;  // the Registration, or the name-matched listener
        int expectedMin;  // guarded by the component's fireLock
        int expectedMax;
        boolean openBefore;
        int gotBefore;

        Reg(String kind) {
            this.kind = kind;
        }

        boolean isOpen() {
            AutoCloseable h = handle;
            if (h instanceof Registration r) {
                return r.isOpen();
            }
            return h instanceof IScanMonturaEvents l && l.isConnected();
        }
    }

    private final class Comp {
        final ScanMontura component;
        final IScanMontura driver;
        final Object fireLock = new Object();  // fire checks, and the registrations' opening
        final List<Reg> regs = new ArrayList<>();  // guarded by itself
        final Reg serverSide = new Reg("server-side");  // its handle: the latest registration
        // The first typed registration, never closed but with its wrapper: once it has an event,
        // the component has fired it to every connection it had (the component takes the list
        // of its connections, in the order they were made, before it fires to any of them).
        final AtomicLong fenced = new AtomicLong();
        final Registration fence;

        Comp() {
            component = ScanMontura.create();
            driver = component.dispatch();
            AtomicLong counted = fenced;
            fence = component.onChange(counted::incrementAndGet);
            Reg server = serverSide;
            component.addServerSideListener((name, args) -> {
                if ("OnChange".equals(name)) {
                    server.got.incrementAndGet();
                }
            });
            add(serverSide);
        }

        void add(Reg r) {
            synchronized (regs) {
                regs.add(r);
            }
            synchronized (pool) {
                LifetimeStress.this.regs.add(r);
            }
        }

        List<Reg> snapshot() {
            synchronized (regs) {
                return new ArrayList<>(regs);
            }
        }
    }

    /**
     * Runs {@code operations} random operations on {@code threads} threads, then closes or drops
     * what is left and collects it.
     *
     * @return the violations seen, one per line; empty when there were none
     */
    public static String run(long seed, int threads, int operations) throws Exception {
        LifetimeStress s = new LifetimeStress();
        List<Thread> workers = new ArrayList<>();
        AtomicLong left = new AtomicLong(operations);
        for (int i = 0; i < threads; i++) {
            Random random = new Random(seed * 1_000_003L + i);
            Thread t = new Thread(() -> {
                while (left.getAndDecrement() > 0 && s.violations.size() < 20) {
                    s.step(random);
                }
            }, "stress-" + i);
            workers.add(t);
        }
        workers.forEach(Thread::start);
        for (Thread t : workers) {
            t.join();
        }
        s.finish(new Random(seed));
        return String.join("\n", s.violations);
    }

    private void step(Random random) {
        int roll = random.nextInt(100);
        try {
            if (roll < 5) {
                create();
            } else if (roll < 7) {
                drop(random);
            } else if (roll < 10) {
                closeComponent(random);
            } else if (roll < 25) {
                callThroughNewDispatch(random);
            } else if (roll < 33) {
                callDriver(random);
            } else if (roll < 45) {
                openTyped(random);
            } else if (roll < 55) {
                closeOne(random, "typed");
            } else if (roll < 61) {
                connectNameMatched(random);
            } else if (roll < 66) {
                closeOne(random, "name-matched");
            } else if (roll < 71) {
                enableServerSide(random);
            } else if (roll < 75) {
                closeServerSide(random);
            } else if (roll < 78) {
                bindEvents(random);
            } else if (roll < 99) {
                fireCheck(random);
            } else if (random.nextInt(8) == 0) {
                scanAndCancel(random);
            } else {
                System.gc();
            }
        } catch (IllegalStateException e) {
            if (!CLOSED.equals(e.getMessage())) {
                violation("unexpected", e);
            }
        } catch (Throwable e) {
            violation("unexpected", e);
        }
    }

    private void violation(String what, Throwable e) {
        StringBuilder text = new StringBuilder(what).append(": ").append(e);
        for (StackTraceElement at : e.getStackTrace()) {
            if (at.getClassName().startsWith("jtztest.")) {
                text.append(" at ").append(at);
                break;
            }
        }
        violations.add(text.toString());
    }

    private Comp pick(Random random) {
        synchronized (pool) {
            return pool.isEmpty() ? null : pool.get(random.nextInt(pool.size()));
        }
    }

    private void create() {
        synchronized (pool) {
            if (pool.size() >= MAX_COMPONENTS) {
                return;
            }
        }
        Comp c = new Comp();
        synchronized (pool) {
            pool.add(c);
            made.add(new WeakReference<>(c.component));
        }
    }

    // Forgets a component and all it holds without closing anything: the cleaner ends it.
    private void drop(Random random) {
        synchronized (pool) {
            if (!pool.isEmpty()) {
                pool.remove(random.nextInt(pool.size()));
            }
        }
    }

    private void closeComponent(Random random) {
        Comp c = pick(random);
        if (c == null) {
            return;
        }
        c.component.close();
        for (Reg r : c.snapshot()) {
            if (r.isOpen()) {
                violations.add(r.kind + " registration open after its wrapper was closed");
            }
            if ("typed".equals(r.kind)) {
                r.closeReturned = true;
            }
        }
    }

    private void callThroughNewDispatch(Random random) {
        Comp c = pick(random);
        if (c == null) {
            return;
        }
        try (IScanMontura d = c.component.dispatch()) {
            d.getText();
            d.getBoxH();
            if (random.nextBoolean()) {
                d.close();
                try {
                    d.getStatus();
                    violations.add("a member of a closed IScanMontura answered");
                } catch (NullPointerException e) {
                    if (!UNBOUND.equals(e.getMessage())) {
                        violation("closed IScanMontura", e);
                    }
                }
            }
        }
    }

    private void callDriver(Random random) {
        Comp c = pick(random);
        if (c != null) {
            c.driver.getStatus();
            c.driver.getAutoSelect();
        }
    }

    private void openTyped(Random random) {
        Comp c = pick(random);
        if (c == null) {
            return;
        }
        synchronized (c.fireLock) {
            Reg typed = new Reg("typed");
            typed.handle = c.component.onChange(() -> {
                if (typed.closeReturned) {
                    violations.add("a typed listener was called after close() returned");
                }
                typed.got.incrementAndGet();
            });
            c.add(typed);
        }
    }

    private void connectNameMatched(Random random) {
        Comp c = pick(random);
        if (c == null) {
            return;
        }
        synchronized (c.fireLock) {
            Reg[] self = new Reg[1];
            IScanMonturaEvents listener = new IScanMonturaEvents() {
                @SuppressWarnings("unused")
                public void OnChange() {
                    self[0].got.incrementAndGet();
                }
            };
            Reg r = new Reg("name-matched");
            self[0] = r;
            r.handle = listener;
            listener.connect(c.component);
            c.add(r);
        }
    }

    private void closeOne(Random random, String kind) throws Exception {
        Comp c = pick(random);
        if (c == null) {
            return;
        }
        List<Reg> open = new ArrayList<>();
        for (Reg r : c.snapshot()) {
            if (r.kind.equals(kind) && r.isOpen()) {
                open.add(r);
            }
        }
        if (open.isEmpty()) {
            return;
        }
        Reg r = open.get(random.nextInt(open.size()));
        r.handle.close();
        r.closeReturned = true;
        if (r.isOpen()) {
            violations.add(kind + " registration open after its close() returned");
        }
    }

    private void enableServerSide(Random random) {
        Comp c = pick(random);
        if (c == null) {
            return;
        }
        synchronized (c.fireLock) {
            c.serverSide.handle = c.component.enableServerSideEvents();
        }
    }

    private void closeServerSide(Random random) throws Exception {
        Comp c = pick(random);
        AutoCloseable r = c == null ? null : c.serverSide.handle;
        if (r != null) {
            r.close();
        }
    }

    private void bindEvents(Random random) {
        Comp c = pick(random);
        if (c != null) {
            c.component.events().close();
        }
    }

    // A tracer on a component of its own (a scan changes the text, which the fire checks must
    // not see): a scan, cancelled from another thread after 0 to 250 ms, then closed. A cancel()
    // that answers true ends the scan cancelled.
    private void scanAndCancel(Random random) throws Exception {
        TracerSettings settings = TracerSettings.builder().port(1 + random.nextInt(4)).speed(10).build();
        long delay = random.nextInt(250);
        try (Tracer tracer = Tracer.open(settings)) {
            boolean[] cancelled = new boolean[1];
            Thread canceller = new Thread(() -> {
                try {
                    Thread.sleep(delay);
                } catch (InterruptedException e) {
                    return;
                }
                cancelled[0] = tracer.cancel();
            }, "stress-cancel");
            canceller.start();
            boolean completed;
            try {
                tracer.scan();
                completed = true;
            } catch (ScanCancelledException e) {
                completed = false;
            } catch (TracerException e) {
                completed = false;  // no frame on that port, say: a failed scan is an outcome
            }
            canceller.join();
            if (completed && cancelled[0]) {
                violations.add("cancel() answered true and the scan completed");
            }
        }
    }

    // Fires one OnChange and waits until every registration open before has had it (or closed).
    private void fireCheck(Random random) throws InterruptedException {
        Comp c = pick(random);
        if (c == null) {
            return;
        }
        synchronized (c.fireLock) {
            List<Reg> all = c.snapshot();
            for (Reg r : all) {
                r.openBefore = r.isOpen();
                r.gotBefore = r.got.get();
            }
            long fencedBefore = c.fenced.get();
            c.driver.setText("fired " + fired.incrementAndGet());
            long deadline = System.nanoTime() + PATIENCE_NANOS;
            // Fired (or its wrapper closed, and with it every registration): no registration made
            // from now on can get this event.
            while (c.fenced.get() == fencedBefore && c.fence.isOpen()) {
                if (System.nanoTime() > deadline) {
                    violations.add("a fired event never reached the component's first registration");
                    break;
                }
                Thread.sleep(0, 200_000);
            }
            for (Reg r : all) {
                while (r.openBefore && r.got.get() == r.gotBefore && r.isOpen()) {
                    if (System.nanoTime() > deadline) {
                        violations.add(r.kind + " registration open throughout never got a fired event");
                        break;
                    }
                    Thread.sleep(0, 200_000);
                }
            }
            for (Reg r : all) {
                boolean openAfter = r.isOpen();
                if (r.openBefore && openAfter) {
                    r.expectedMin++;
                    r.expectedMax++;
                } else if (r.openBefore || openAfter) {
                    r.expectedMax++;
                }
            }
        }
        if (random.nextInt(8) == 0) {
            Thread.yield();
        }
    }

    // Closes or drops what is left, checks the counts, and collects every component.
    private void finish(Random random) throws Exception {
        List<Comp> left;
        synchronized (pool) {
            left = new ArrayList<>(pool);
            pool.clear();
        }
        for (Comp c : left) {
            if (random.nextBoolean()) {
                c.component.close();
                c.driver.close();
            }
        }
        List<Reg> all;
        synchronized (pool) {
            all = new ArrayList<>(regs);
        }
        for (Reg r : all) {
            int got = r.got.get();
            if (got < r.expectedMin || got > r.expectedMax) {
                violations.add(r.kind + " registration got " + got + " events, expected "
                        + (r.expectedMin == r.expectedMax ? String.valueOf(r.expectedMin)
                                : r.expectedMin + " to " + r.expectedMax));
            }
        }
        left.clear();
        all.clear();
        long deadline = System.nanoTime() + PATIENCE_NANOS;
        for (;;) {
            int alive = 0;
            synchronized (pool) {
                for (WeakReference<ScanMontura> w : made) {
                    if (w.get() != null) {
                        alive++;
                    }
                }
            }
            if (alive == 0) {
                break;
            }
            if (System.nanoTime() > deadline) {
                violations.add(alive + " component wrappers still reachable with nothing holding them");
                break;
            }
            System.gc();
            Thread.sleep(20);
        }
    }
}
