package jtztests.wrappers;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import ezjcom.JComObject;
import ezjcom.RuntimeTesting;
import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.Function;
import jtztest.JniRefs;
import jtztests.ProcessFigures;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;
import puente.IScanMontura;
import puente.Registration;
import puente.ScanMontura;
import puente.ServerSideListener;

/**
 * A component wrapper closed on one thread while another uses it: every use either completes or
 * says the wrapper is closed, what a use made ends with the wrapper, and nothing is kept.
 */
class CloseRaceTest {
    // -Djtz.race.rounds=3000 for a long run.
    private static final int ROUNDS = Integer.getInteger("jtz.race.rounds", 300);

    /** What a second thread does with the component while it is closed. */
    enum Use {
        DISPATCH(ScanMontura::dispatch),
        EVENTS(ScanMontura::events),
        TYPED_LISTENER(c -> c.onChange(() -> {})),
        SERVER_SIDE(ScanMontura::enableServerSideEvents),
        NAME_MATCHED(c -> {
            Events.Listener listener = new Events.Listener();
            listener.connect(c);
            return listener;
        });

        final Function<ScanMontura, AutoCloseable> use;

        Use(Function<ScanMontura, AutoCloseable> use) {
            this.use = use;
        }
    }

    @ParameterizedTest
    @EnumSource(Use.class)
    void closeRacingAUseEndsWhatTheUseMade(Use use) throws Exception {
        long bindings = RuntimeTesting.openBindings();
        long connections = RuntimeTesting.openConnections();
        Random random = new Random(use.ordinal());
        CyclicBarrier start = new CyclicBarrier(2);
        int refused = 0;
        for (int round = 0; round < ROUNDS; round++) {
            ScanMontura component = ScanMontura.create();
            long spin = random.nextInt(200_000);
            AtomicReference<Object> outcome = new AtomicReference<>();
            Thread user = new Thread(() -> {
                await(start);
                try {
                    outcome.set(use.use.apply(component));
                } catch (Throwable e) {
                    outcome.set(e);
                }
            });
            user.start();
            await(start);
            for (long until = System.nanoTime() + spin; System.nanoTime() < until; ) {
                Thread.onSpinWait();
            }
            component.close();
            user.join();

            Object made = outcome.get();
            if (made instanceof IllegalStateException e && "ScanMontura is closed".equals(e.getMessage())) {
                refused++;
                continue;
            }
            if (made instanceof Throwable t) {
                throw new AssertionError(use + ", round " + round, t);
            }
            // Made before the close, or undone by it: nothing made through a closed wrapper stays.
            if (made instanceof Registration r) {
                assertFalse(r.isOpen(), use + ": a registration outlived its wrapper's close");
            }
            if (made instanceof Events.Listener l) {
                assertFalse(l.isConnected(), "a listener stayed connected after its wrapper's close");
            }
            ((AutoCloseable) made).close();  // closing again, after the wrapper: quiet
        }
        assertTrue(refused < ROUNDS, use + ": every use was refused; the race was never run");
        assertEquals(connections, RuntimeTesting.openConnections(), use + ": connections kept");
        assertEquals(bindings, RuntimeTesting.openBindings(), use + ": references kept");
    }

    private static void await(CyclicBarrier barrier) {
        try {
            barrier.await();
        } catch (Exception e) {
            throw new AssertionError(e);
        }
    }

    @Test
    void useAfterCloseNamesWhatIsClosedAndClosingIsQuietInAnyOrder() {
        ScanMontura component = ScanMontura.create();
        Registration typed = component.onChange(() -> {});
        Registration serverSide = component.enableServerSideEvents();
        IScanMontura device = component.dispatch();
        component.close();
        for (Function<ScanMontura, ?> use : List.<Function<ScanMontura, ?>>of(ScanMontura::dispatch,
                ScanMontura::events, c -> c.onKeyPress(key -> {}), ScanMontura::enableServerSideEvents,
                c -> IScanMontura.bind(c), c -> new Events.Listener().connect(c))) {
            IllegalStateException e = assertThrows(IllegalStateException.class, () -> use.apply(component));
            assertEquals("ScanMontura is closed", e.getMessage());
        }
        typed.close();
        serverSide.close();
        component.close();
        device.setText("the dispatch wrapper holds a reference of its own");
        device.close();
        NullPointerException unbound = assertThrows(NullPointerException.class, device::getText);
        assertEquals("Uninitialized JComObject", unbound.getMessage(), "member natives keep their own answer");
    }

    @Test
    void droppedComponentsWithOpenRegistrationsAreCleanedUp() throws Exception {
        for (int warm = 0; warm < 3; warm++) {
            dropOne();
        }
        awaitCollected();
        long threads = ProcessFigures.settledThreads();
        long refs = JniRefs.globalRefCount();
        long bindings = RuntimeTesting.openBindings();
        List<WeakReference<ScanMontura>> dropped = new ArrayList<>();
        for (int i = 0; i < 20; i++) {
            dropped.add(dropOne());
        }
        for (int gc = 0; gc < 50 && dropped.stream().anyMatch(w -> w.get() != null); gc++) {
            awaitCollected();
        }
        for (WeakReference<ScanMontura> w : dropped) {
            assertEquals(null, w.get(), "a component with an open registration stayed reachable");
        }
        long deadline = System.nanoTime() + Events.PATIENCE_SECONDS * 1_000_000_000L;
        while (RuntimeTesting.openBindings() > bindings && System.nanoTime() < deadline) {
            awaitCollected();
        }
        assertEquals(bindings, RuntimeTesting.openBindings(), "references given back by the cleaner");
        assertTrue(ProcessFigures.awaitThreadsAtMost(threads + 2, Events.PATIENCE_SECONDS * 1000) <= threads + 2,
                "the components' threads ended");
        long now = JniRefs.globalRefCount();
        for (int i = 0; i < 100 && now > refs; i++) {
            awaitCollected();
            now = JniRefs.globalRefCount();
        }
        assertTrue(now <= refs, "global references " + refs + " before, " + now + " after");
    }

    // A component with an open typed registration, an open server-side one and a connected
    // name-matched listener, none closed, the component dropped.
    private static WeakReference<ScanMontura> dropOne() {
        ScanMontura component = ScanMontura.create();
        component.onChange(() -> {});
        component.addServerSideListener((ServerSideListener) (name, args) -> {});
        component.enableServerSideEvents();
        new Events.Listener().connect(component);
        component.dispatch().setText("dropped");  // an event on its way
        return new WeakReference<>(component);
    }

    private static void awaitCollected() throws InterruptedException {
        System.gc();
        Thread.sleep(20);
    }

    @Test
    void anErrorThrownByOneServerSideListenerLeavesTheOthersTheirEvent() throws Exception {
        try (ScanMontura component = ScanMontura.create();
             IScanMontura device = component.dispatch()) {
            List<Throwable> reported = new ArrayList<>();
            component.setEventErrorHandler((event, failure) -> {
                synchronized (reported) {
                    reported.add(failure);
                }
            });
            component.addServerSideListener((name, args) -> {
                throw new AssertionError("a listener's Error");
            });
            Events.Recorder after = new Events.Recorder();
            component.addServerSideListener(after);
            component.enableServerSideEvents();
            device.setText("error");
            assertEquals("OnChange", after.next().name());
            synchronized (reported) {
                assertEquals(1, reported.size());
                assertTrue(reported.get(0) instanceof AssertionError);
            }
        }
    }

    @Test
    void closeWaitsForTheDeliveryUnderWayAndNoneStartsAfterIt() throws Exception {
        try (ScanMontura component = ScanMontura.create();
             IScanMontura device = component.dispatch()) {
            CyclicBarrier inside = new CyclicBarrier(2);
            AtomicReference<Boolean> closedDuringDelivery = new AtomicReference<>();
            AtomicReference<Registration> self = new AtomicReference<>();
            Registration registration = component.onChange(() -> {
                await(inside);
                sleepMillis(100);  // close() is waiting meanwhile
                closedDuringDelivery.compareAndSet(null, !self.get().isOpen());
            });
            self.set(registration);
            device.setText("once");
            await(inside);
            registration.close();
            assertEquals(Boolean.TRUE, closedDuringDelivery.get(),
                    "close() returned before the delivery under way had ended");
            device.setText("after");
            Events.Listener fence = new Events.Listener();
            fence.connect(component);
            device.setText("fenced");
            fence.next();
            fence.disconnect();
        }
    }

    private static void sleepMillis(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            fail(e);
        }
    }

    @Test
    void closingTheComponentFromInsideItsOwnEventDoesNotWaitForItself() throws Exception {
        ScanMontura component = ScanMontura.create();
        IScanMontura device = component.dispatch();
        Events.Recorder done = new Events.Recorder();
        component.onChange(() -> {
            component.close();
            done.onEvent("closed", new Object[0]);
        });
        device.setText("close yourself");
        assertEquals("closed", done.next().name());
        assertTrue(component.isClosed());
        assertFalse(((JComObject) component).isBound());
        device.close();
    }
}
