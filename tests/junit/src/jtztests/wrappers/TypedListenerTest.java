package jtztests.wrappers;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import puente.EventDeliveryException;
import puente.IScanMontura;
import puente.IScanMonturaEvents;
import puente.Registration;
import puente.ScanMontura;
import puente.ScanMonturaAdapter;
import puente.ScanMonturaListener;
import puente.ServerSideRegistration;

/** Typed listeners, registration handles and where listener failures go. */
class TypedListenerTest {
    private final ScanMontura component = ScanMontura.create();
    private final IScanMontura control = component.dispatch();
    private final BlockingQueue<Failure> failures = new LinkedBlockingQueue<>();

    record Failure(String event, Throwable failure) {}

    TypedListenerTest() {
        component.setEventErrorHandler((event, failure) -> failures.add(new Failure(event, failure)));
    }

    @AfterEach
    void release() {
        control.close();
        component.close();
    }

    private static <T> T next(BlockingQueue<T> queue) throws InterruptedException {
        T item = queue.poll(Events.PATIENCE_SECONDS, TimeUnit.SECONDS);
        assertTrue(item != null, "nothing arrived");
        return item;
    }

    // Fired inside setText, OnChange arrives on the calling thread itself; queued, on the
    // component's thread, which the runtime attached and named.
    @Test
    void eventsArriveOnTheThreadTheComponentFiresThemOn() throws Exception {
        BlockingQueue<Thread> threads = new LinkedBlockingQueue<>();
        Registration changes = component.onChange(() -> threads.add(Thread.currentThread()));
        control.setText("named");
        Thread thread = next(threads);
        changes.close();
        if (Events.FIRED_IN_CALL) {
            assertSame(Thread.currentThread(), thread);
        } else {
            assertTrue(thread.getName().matches("COM event thread [0-9]+ \\(EZJcomLib18\\)"), thread.getName());
            assertTrue(thread.isDaemon());
        }
    }

    @Test
    void closingAHandleEndsExactlyThatRegistration() throws Exception {
        BlockingQueue<String> heard = new LinkedBlockingQueue<>();
        Registration first = component.onChange(() -> heard.add("first"));
        Registration second = component.addListener(new ScanMonturaListener() {
            @Override
            public void onChange() {
                heard.add("second");
            }
        });
        control.setText("both");
        assertEquals(List.of("first", "second"), List.of(next(heard), next(heard)));

        first.close();
        assertFalse(first.isOpen());
        assertTrue(second.isOpen());
        control.setText("one");
        // The second was connected after the first: once it has the event, the first would have.
        assertEquals("second", next(heard));
        assertNull(heard.poll());

        first.close();  // a second close does nothing
        second.close();
        control.setText("none");
        Events.Listener fence = new Events.Listener();
        fence.connect(component);
        control.setText("fenced");
        assertEquals("OnChange", fence.next().name());
        assertNull(heard.poll(), "no closed registration hears anything");
        fence.disconnect();
    }

    @Test
    void concurrentClosesDisconnectOnce() throws Exception {
        Registration registration = component.onClick(() -> {});
        CountDownLatch start = new CountDownLatch(1);
        List<Thread> threads = new ArrayList<>();
        List<Throwable> thrown = new ArrayList<>();
        for (int i = 0; i < 8; i++) {
            Thread t = new Thread(() -> {
                try {
                    start.await();
                    registration.close();
                } catch (Throwable e) {
                    synchronized (thrown) {
                        thrown.add(e);
                    }
                }
            });
            t.start();
            threads.add(t);
        }
        start.countDown();
        for (Thread t : threads) {
            t.join();
        }
        assertEquals(List.of(), thrown);
        assertFalse(registration.isOpen());
    }

    @Test
    void aListenerMayCloseItsOwnRegistrationInsideAnEvent() throws Exception {
        BlockingQueue<String> heard = new LinkedBlockingQueue<>();
        Registration[] self = new Registration[1];
        self[0] = component.onChange(() -> {
            heard.add("once");
            self[0].close();
        });
        control.setText("a");
        assertEquals("once", next(heard));
        Events.Listener fence = new Events.Listener();
        fence.connect(component);
        control.setText("b");
        fence.next();
        assertNull(heard.poll());
        fence.disconnect();
    }

    @Test
    void whatATypedListenerThrowsReachesTheHandlerAndDeliveryGoesOn() throws Exception {
        IllegalStateException boom = new IllegalStateException("listener failed");
        BlockingQueue<String> after = new LinkedBlockingQueue<>();
        try (Registration failing = component.onChange(() -> {
                    throw boom;
                });
                Registration next = component.onChange(() -> after.add("still delivered"))) {
            assertTrue(failing.isOpen() && next.isOpen());
            control.setText("x");
            Failure failure = next(failures);
            assertEquals("OnChange", failure.event());
            assertSame(boom, failure.failure());
            assertEquals("still delivered", next(after));
        }
    }

    @Test
    void whatAServerSideListenerThrowsReachesTheHandlerAndTheNextListenerStillHears() throws Exception {
        IllegalArgumentException boom = new IllegalArgumentException("server-side listener failed");
        Events.Recorder recorder = new Events.Recorder();
        component.addServerSideListener((event, args) -> {
            throw boom;
        });
        component.addServerSideListener(recorder);
        // An Error ends the event's delivery; the bridge hands it to the component's callback.
        Error fatal = new ExceptionInInitializerError("server-side listener broke");
        component.addServerSideListener((event, args) -> {
            throw fatal;
        });
        try (ServerSideRegistration registration = component.enableServerSideEvents()) {
            assertTrue(registration.isOpen());
            control.setText("x");
            assertEquals("OnChange", recorder.next().name());
            Failure failure = next(failures);
            assertEquals("OnChange", failure.event());
            assertSame(boom, failure.failure());
            Failure broken = next(failures);
            assertEquals("OnChange", broken.event());
            assertSame(fatal, broken.failure());
        }
    }

    /** A listener whose method names differ from the events' only in case. */
    public static class Misnamed extends ScanMonturaAdapter {
        public void onChange() {}

        public void onclick() {}
    }

    /** A listener with no OnClick at all. */
    public static class ChangesOnly extends IScanMonturaEvents {
        public void OnChange() {}
    }

    @Test
    void misnamedAndMissingMethodsAreReported() throws Exception {
        BlockingQueue<Failure> heard = new LinkedBlockingQueue<>();
        Misnamed misnamed = new Misnamed();
        misnamed.setEventErrorHandler((event, failure) -> heard.add(new Failure(event, failure)));
        misnamed.listen();
        List<String> reported = new ArrayList<>();
        for (int i = 0; i < 2; i++) {
            Failure failure = next(heard);
            assertInstanceOf(EventDeliveryException.class, failure.failure());
            reported.add(failure.event() + " " + failure.failure().getMessage());
        }
        reported.sort(null);
        assertTrue(reported.get(0).startsWith("OnChange OnChange: "), reported.toString());
        assertTrue(reported.get(0).contains("onChange() is never called"), reported.toString());
        assertTrue(reported.get(1).contains("onclick() is never called"), reported.toString());
        misnamed.disconnect();

        ChangesOnly partial = new ChangesOnly();
        partial.setEventErrorHandler((event, failure) -> heard.add(new Failure(event, failure)));
        partial.connect(component);
        partial.JComOnEventError("OnClick", "Unable to locate method");  // as the bridge calls it
        Failure missing = next(heard);
        assertEquals("OnClick", missing.event());
        assertTrue(missing.failure().getMessage().contains("has no method OnClick()"),
                missing.failure().getMessage());
        partial.disconnect();
    }

    @Test
    void aPlainEventInterfaceWrapperIsNoListener() {
        IScanMonturaEvents events = component.events();
        IllegalStateException e = assertThrows(IllegalStateException.class, () -> events.connect(component));
        assertTrue(e.getMessage().contains("no event methods"), e.getMessage());
        events.close();
        assertFalse(events.isBound());
    }

    @Test
    void closingTheComponentClosesItsRegistrations() {
        Registration typed = component.onDblClick(() -> {});
        ServerSideRegistration serverSide = component.enableServerSideEvents();
        assertSame(serverSide, component.enableServerSideEvents(), "one registration while open");
        component.close();
        assertFalse(typed.isOpen());
        assertFalse(serverSide.isOpen());
        assertFalse(component.isBound());
        IllegalStateException e = assertThrows(IllegalStateException.class, () -> component.onClick(() -> {}));
        assertEquals("ScanMontura is closed", e.getMessage());
    }

    @Test
    void aListenerWithAnExecutorRunsThereAndNotOnceClosed() throws Exception {
        CountDownLatch blocked = new CountDownLatch(1);
        java.util.concurrent.ExecutorService gui = java.util.concurrent.Executors.newSingleThreadExecutor(
                r -> new Thread(r, "gui"));
        try {
            gui.execute(() -> {
                try {
                    blocked.await();  // the events queue up behind this
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            });
            BlockingQueue<String> heard = new LinkedBlockingQueue<>();
            Registration queued = component.addListener(new ScanMonturaListener() {
                @Override
                public void onChange() {
                    heard.add("queued on " + Thread.currentThread().getName());
                }
            }, gui);
            Registration running = component.addListener(new ScanMonturaListener() {
                @Override
                public void onChange() {
                    heard.add("on " + Thread.currentThread().getName());
                    throw new IllegalStateException("to the handler");
                }
            }, gui);
            Events.Listener fence = new Events.Listener();
            fence.connect(component);
            control.setText("while the executor is busy");
            fence.next();  // fired, and handed to the executor
            queued.close();  // before the executor gets to it: never delivered
            blocked.countDown();
            assertEquals("on gui", next(heard));
            assertInstanceOf(IllegalStateException.class, next(failures).failure());
            running.close();
            control.setText("after close");
            fence.next();
            gui.submit(() -> {}).get();
            assertNull(heard.poll(), "delivered after close: " + heard);
            fence.disconnect();
        } finally {
            gui.shutdownNow();
        }
    }
}
