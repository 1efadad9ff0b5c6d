package jtztests.wrappers;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import ezjcom.JComEventListener;
import ezjcom.JComObject;
import ezjcom.RuntimeTesting;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.Semaphore;
import java.util.concurrent.TimeUnit;
import java.util.function.Consumer;
import jtztests.ProcessFigures;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;
import puente.IScanMontura;
import puente.IScanMonturaEvents;
import puente.ScanMontura;
import puente.ServerSideRegistration;

/** What a long-running program needs: sinks, registrations and references given back exactly once. */
class LifetimeTest {
    @AfterEach
    void resetJournal() {
        RuntimeTesting.reset();
    }

    private static long releases() {
        return RuntimeTesting.journal().lines().filter(line -> line.startsWith("__JComRelease ")).count();
    }

    @Test
    void closeGivesTheReferenceBackExactlyOnceWhateverTheThreads() throws Exception {
        ScanMontura component = ScanMontura.create();
        IScanMontura device = component.dispatch();
        device.setText("bound");
        RuntimeTesting.reset();
        CountDownLatch start = new CountDownLatch(1);
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < 8; i++) {
            Thread t = new Thread(() -> {
                try {
                    start.await();
                } catch (InterruptedException e) {
                    return;
                }
                device.close();
            });
            t.start();
            threads.add(t);
        }
        start.countDown();
        for (Thread t : threads) {
            t.join();
        }
        assertEquals(1, releases());
        assertFalse(device.isBound());
        NullPointerException e = assertThrows(NullPointerException.class, device::getText);
        assertEquals("Uninitialized JComObject", e.getMessage(), "a released wrapper reads as unbound");
        device.close();
        component.close();
        assertEquals(2, releases(), "one more for the component, none for the second close");
    }

    /** The ways a program lets go of a component and everything bound from it. */
    enum LettingGo {
        CLOSED,
        UNREACHABLE
    }

    @ParameterizedTest
    @EnumSource(LettingGo.class)
    void componentsLetGoOfGiveTheirThreadsBack(LettingGo how) throws Exception {
        Consumer<Integer> cycle = i -> {
            ScanMontura component = ScanMontura.create();
            IScanMontura device = component.dispatch();
            IScanMonturaEvents events = component.events();
            device.setText("cycle " + i);  // an event to deliver: the component's thread runs
            if (how == LettingGo.CLOSED) {
                for (JComObject wrapper : new JComObject[] {events, device, component}) {
                    wrapper.close();
                }
            }
        };
        for (int i = 0; i < 10; i++) {
            cycle.accept(i);
        }
        long threads = ProcessFigures.settledThreads();
        for (int i = 0; i < 200; i++) {
            cycle.accept(i);
        }
        long left = ProcessFigures.awaitThreadsAtMost(threads + 2, Events.PATIENCE_SECONDS * 1000);
        assertTrue(left <= threads + 2, how + ": " + threads + " threads before, " + left + " after");
    }

    @Test
    void serverSideRegistrationCanBeEndedAndMadeAgain() throws Exception {
        ScanMontura component = ScanMontura.create();
        IScanMontura control = component.dispatch();
        Events.Recorder recorder = new Events.Recorder();
        component.addServerSideListener(recorder);
        ServerSideRegistration first = component.enableServerSideEvents();
        assertSame(first, component.enableServerSideEvents());
        assertEquals(first.cookie(), component.registerServerSideEvents()[1]);
        first.close();
        first.close();  // idempotent
        assertFalse(first.isOpen());
        assertEquals(0, first.listener().eventId, "the sink is given up");
        Events.Listener fence = new Events.Listener();
        fence.connect(component);
        control.setText("unregistered");
        fence.next();
        assertEquals(0, recorder.seen.size(), "no server-side delivery after close");

        ServerSideRegistration second = component.enableServerSideEvents();
        assertNotSame(first, second);
        assertTrue(second.isOpen());
        control.setText("registered again");
        fence.next();
        assertEquals("OnChange", recorder.next().name());
        fence.disconnect();
        component.close();
        assertFalse(second.isOpen());
        control.close();
    }
    @Test
    void listeningTwiceKeepsTheOneSink() {
        Events.Listener listener = new Events.Listener();
        listener.listen();
        int sink = listener.eventId;
        assertNotEquals(0, sink);
        listener.listen();
        assertEquals(sink, listener.eventId, "a second sink would orphan the first");
        listener.disconnect();
        assertEquals(0, listener.eventId);
    }

    @Test
    void secondServerSideRegistrationReturnsTheFirst() throws Exception {
        ScanMontura component = ScanMontura.create();
        Events.Recorder recorder = new Events.Recorder();
        component.addServerSideListener(recorder);
        Object[] first = component.registerServerSideEvents();
        Object[] second = component.registerServerSideEvents();
        assertEquals(first[1], second[1], "one registration, one cookie");
        // Connected last, the fence hears each event after every server-side sink has had it.
        Events.Listener fence = new Events.Listener();
        fence.connect(component);
        component.dispatch().setText("once");
        assertEquals("OnChange", fence.next().name());
        assertEquals(1, recorder.seen.size(), "each event once: " + recorder.seen);
        fence.disconnect();
    }

    /**
     * A component whose Unadvise waits until an event fired from its own thread has been delivered,
     * as COM allows; the listener reads its connection state inside that event.
     */
    public static final class UnadviseWaitsForEvents extends ScanMontura {
        final Semaphore delivered = new Semaphore(0);
        volatile boolean eventDeliveredDuringUnadvise;
        private IScanMontura control;

        void start() {
            assertTrue(__JComCreateObject(false, false));
            control = dispatch();
        }

        void change(String text) {
            control.setText(text);
        }

        @Override
        protected void __JComUnadvise(JComEventListener listener, int cookie) {
            delivered.drainPermits();
            control.setText("changed while disconnecting");
            try {
                eventDeliveredDuringUnadvise = delivered.tryAcquire(Events.PATIENCE_SECONDS, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            super.__JComUnadvise(listener, cookie);
        }
    }

    @Test
    void connectionStateCanBeReadInsideAnEventWhileDisconnecting() throws Exception {
        UnadviseWaitsForEvents component = new UnadviseWaitsForEvents();
        component.start();
        Events.Listener listener = new Events.Listener() {
            @Override
            public void OnChange() {
                cookie();
                isConnected();
                component.delivered.release();
                super.OnChange();
            }
        };
        listener.connect(component);
        component.change("connected");
        listener.next();
        listener.disconnect();
        assertTrue(component.eventDeliveredDuringUnadvise,
                "the event thread was blocked by the listener's own lock while disconnecting");
        assertEquals(0, listener.cookie());
    }
}
