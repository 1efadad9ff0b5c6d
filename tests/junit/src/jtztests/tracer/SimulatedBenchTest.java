package jtztests.tracer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicReference;
import jtrazelo.simulator.SimulatedBench;
import jtrazelo.tracer.ScanFailedException;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerSettings;
import org.junit.jupiter.api.Test;
import puente.IScanMontura;
import puente.Registration;
import puente.ScanMontura;

/** The simulated component's bench from Java, as the README's examples use it. */
class SimulatedBenchTest {
    private static TracerSettings settings(int port) {
        return TracerSettings.builder().port(port).speed(10).build();
    }

    @Test
    void typedKeysReachTheListenersWhichMaySwallowThem() {
        List<Character> seen = new ArrayList<>();
        try (ScanMontura component = ScanMontura.create();
                IScanMontura control = component.dispatch();
                Registration keys = component.onKeyPress(key -> {
                    seen.add(key.key());
                    if (key.key() == '#') {
                        key.swallow();
                    }
                });
                SimulatedBench bench = SimulatedBench.of(component)) {
            assertTrue(keys.isOpen());
            bench.typeText("ab#c\u00e9");
            assertEquals("abc\u00e9", control.getText());
            assertEquals(List.of('a', 'b', '#', 'c', '\u00e9'), seen, "typeText returns after the events");
        }
    }

    @Test
    void framesAndFailuresReachTheTracer() throws Exception {
        try (ScanMontura component = ScanMontura.create(); SimulatedBench bench = SimulatedBench.of(component)) {
            bench.setFrame(1, SimulatedBench.Frame.RIMLESS);
            try (Tracer tracer = Tracer.open(settings(1), component)) {
                assertEquals(2, tracer.scan().drillHoles().size(), "port 1 holds the rimless frame now");
                bench.emptyTracer(SimulatedBench.EVERY_PORT);
                ScanFailedException empty = assertThrows(ScanFailedException.class, tracer::scan);
                assertEquals(ScanFailedException.Reason.NO_FRAME, empty.reason());
                bench.restoreFrame(SimulatedBench.EVERY_PORT);
                assertEquals(0, tracer.scan().drillHoles().size(), "the bench's own rectangular frame");

                bench.failMember("explora", SimulatedBench.E_FAIL, "the tracer is jammed");
                ScanFailedException jammed = assertThrows(ScanFailedException.class, tracer::scan);
                assertEquals(ScanFailedException.Reason.REFUSED, jammed.reason());
                assertEquals("the tracer is jammed", jammed.description());
                bench.restoreMember("Explora");
                assertEquals(400, tracer.scan().pointCount());
            }
            assertThrows(IllegalArgumentException.class, () -> bench.setFrame(17, SimulatedBench.Frame.OVAL));
            assertThrows(IllegalArgumentException.class, () -> bench.failMember("NoSuchMember", SimulatedBench.E_FAIL, null));
        }
    }

    @Test
    void closedBenchOrComponentIsIllegalState() {
        ScanMontura component = ScanMontura.create();
        SimulatedBench bench = SimulatedBench.of(component);
        bench.close();
        bench.close();
        IllegalStateException closed = assertThrows(IllegalStateException.class, () -> bench.typeText("x"));
        assertTrue(closed.getMessage().contains("bench is closed"), closed.getMessage());
        component.close();
        assertThrows(IllegalStateException.class, () -> SimulatedBench.of(component));
    }

    /** Closing the bench while other threads type, choose frames and fail members: each call works or is refused. */
    @Test
    void closeRacingEveryOperation() throws Exception {
        for (int round = 0; round < 20; round++) {
            try (ScanMontura component = ScanMontura.create()) {
                SimulatedBench bench = SimulatedBench.of(component);
                CountDownLatch go = new CountDownLatch(1);
                AtomicReference<Throwable> unexpected = new AtomicReference<>();
                List<Runnable> operations = List.of(
                        () -> bench.typeText("abc"),
                        () -> bench.setFrame(2, SimulatedBench.Frame.AVIATOR),
                        () -> bench.failMember("Text", SimulatedBench.E_FAIL, "no"),
                        bench::close);
                List<Thread> threads = new ArrayList<>();
                for (Runnable operation : operations) {
                    Thread thread = new Thread(() -> {
                        try {
                            go.await();
                            for (int i = 0; i < 20; i++) {
                                operation.run();
                            }
                        } catch (IllegalStateException e) {
                            if (!e.getMessage().contains("bench is closed")) {
                                unexpected.set(e);
                            }
                        } catch (Throwable e) {
                            unexpected.set(e);
                        }
                    });
                    thread.start();
                    threads.add(thread);
                }
                go.countDown();
                for (Thread thread : threads) {
                    thread.join();
                }
                if (unexpected.get() != null) {
                    throw new AssertionError("round " + round, unexpected.get());
                }
                assertThrows(IllegalStateException.class, () -> bench.emptyTracer(1));
            }
        }
    }
}
