package jtztests.tracer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.time.Duration;
import java.util.Random;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.FutureTask;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import jtrazelo.tracer.FrameTrace;
import jtrazelo.tracer.ProgressListener;
import jtrazelo.tracer.ScanCancelledException;
import jtrazelo.tracer.ScanFailedException;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerException;
import jtrazelo.tracer.TracerSettings;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.api.Test;
import puente.IScanMontura;
import puente.ScanMontura;

/** A scan that is stopped before its trace leaves the device stopped and the tracer usable. */
class ScanStopTest {
    private static final long PATIENCE_SECONDS = 20;
    private static final IllegalStateException PROGRESS_FAILURE = new IllegalStateException("progress failed");

    /** The ways a scan stops before its trace. */
    enum Stop {
        CANCEL,
        TIMEOUT,
        INTERRUPT,
        PROGRESS_THROWS,
        CLOSE_FROM_ANOTHER_THREAD,
        CLOSE_FROM_PROGRESS,
    }

    /** A slow scan (speed 1: two seconds) on its own thread; {@code started} opens at its first progress. */
    private static final class Scan {
        final CountDownLatch started = new CountDownLatch(1);
        final FutureTask<FrameTrace> task;
        final Thread thread;

        Scan(Tracer tracer, Stop stop) {
            ProgressListener progress = (percent, message) -> {
                started.countDown();
                if (stop == Stop.PROGRESS_THROWS) {
                    throw PROGRESS_FAILURE;
                }
                if (stop == Stop.CLOSE_FROM_PROGRESS) {
                    tracer.close();
                }
            };
            Duration timeout = stop == Stop.TIMEOUT ? Duration.ofMillis(300) : Duration.ofSeconds(60);
            task = new FutureTask<>(() -> tracer.scan(progress, timeout));
            thread = new Thread(task, "scan-" + stop);
            thread.start();
        }

        Throwable failure() throws Exception {
            try {
                task.get(PATIENCE_SECONDS, TimeUnit.SECONDS);
            } catch (ExecutionException e) {
                return e.getCause();
            }
            throw new AssertionError("the scan gave a trace");
        }
    }

    @ParameterizedTest
    @EnumSource(Stop.class)
    void stoppedScanStopsTheDeviceAndTheNextScanWorks(Stop stop) throws Exception {
        ScanMontura component = ScanMontura.create();
        IScanMontura probe = component.dispatch();  // the test's own view of the device
        Tracer tracer = Tracer.open(TracerSettings.builder().port(2).speed(1).build(), component);
        Scan scan = new Scan(tracer, stop);
        assertTrue(scan.started.await(PATIENCE_SECONDS, TimeUnit.SECONDS), "the scan started");
        switch (stop) {
            case CANCEL -> assertTrue(tracer.cancel());
            case INTERRUPT -> scan.thread.interrupt();
            case CLOSE_FROM_ANOTHER_THREAD -> tracer.close();
            default -> {}
        }
        Throwable failure = scan.failure();
        switch (stop) {
            case CANCEL, INTERRUPT, CLOSE_FROM_ANOTHER_THREAD, CLOSE_FROM_PROGRESS ->
                    assertInstanceOf(ScanCancelledException.class, failure);
            case TIMEOUT -> {
                assertInstanceOf(ScanFailedException.class, failure);
                assertFalse(failure instanceof ScanCancelledException);
                assertEquals(ScanFailedException.Reason.TIMED_OUT, ((ScanFailedException) failure).reason());
                assertTrue(failure.getMessage().contains("did not finish within 300 ms"), failure.getMessage());
            }
            case PROGRESS_THROWS -> assertSame(PROGRESS_FAILURE, failure);
        }
        int status = probe.getStatus();
        assertFalse(status >= 100 && status < 200, "the device's scan was stopped (status " + status + ")");
        if (stop == Stop.CLOSE_FROM_ANOTHER_THREAD || stop == Stop.CLOSE_FROM_PROGRESS) {
            assertTrue(tracer.isClosed());
            assertEquals(0, status, "the device was closed");
            assertFalse(tracer.device().isBound(), "the tracer gave its wrapper back");
        } else {
            assertFalse(tracer.cancel(), "nothing left to cancel");
            assertEquals(1, status, "the port is open again");
            probe.setVelocidad(10);  // the next scan takes 200 ms
            assertEquals(400, tracer.scan().pointCount(), "the tracer scans again");
            tracer.close();
        }
        probe.close();
        component.close();
    }

    @Test
    void cancelWithoutAScanDoesNothing() throws Exception {
        try (Tracer tracer = Tracer.open(TracerSettings.builder().port(1).speed(10).build())) {
            assertFalse(tracer.cancel());
            assertNotNull(tracer.scan());
        }
    }

    @Test
    void aSecondThreadCannotScanAtTheSameTime() throws Exception {
        try (Tracer tracer = Tracer.open(TracerSettings.builder().port(1).speed(1).build())) {
            Scan first = new Scan(tracer, Stop.CANCEL);
            assertTrue(first.started.await(PATIENCE_SECONDS, TimeUnit.SECONDS));
            TracerException e = assertThrows(TracerException.class, tracer::scan);
            assertTrue(e.getMessage().contains("another thread is scanning"), e.getMessage());
            tracer.cancel();
            assertInstanceOf(ScanCancelledException.class, first.failure());
        }
    }

    /** Scans; true when the scan ended cancelled, false when it gave its trace. */
    private static boolean endedCancelled(Tracer tracer, ProgressListener progress) throws TracerException {
        try {
            tracer.scan(progress);
            return false;
        } catch (ScanCancelledException e) {
            return true;
        }
    }

    @Test
    void cancelAtTheLastProgressEitherStopsTheScanOrSaysFalse() throws Exception {
        try (Tracer tracer = Tracer.open(TracerSettings.builder().port(1).speed(10).build())) {
            AtomicBoolean accepted = new AtomicBoolean();
            boolean cancelled = endedCancelled(tracer, (percent, message) -> {
                if (percent == 100) {
                    accepted.set(tracer.cancel());
                }
            });
            assertEquals(accepted.get(), cancelled, "cancel() answered " + accepted.get());
        }
    }

    @Test
    void cancelRacingTheEndOfScansKeepsItsWord() throws Exception {
        Random random = new Random(22);
        try (Tracer tracer = Tracer.open(TracerSettings.builder().port(1).speed(10).build())) {
            for (int i = 0; i < 25; i++) {
                AtomicBoolean accepted = new AtomicBoolean();
                CountDownLatch started = new CountDownLatch(1);
                long delayMicros = 150_000 + random.nextInt(100_000);  // around the end of a 200 ms scan
                Thread canceller = new Thread(() -> {
                    try {
                        started.await();
                        TimeUnit.MICROSECONDS.sleep(delayMicros);
                    } catch (InterruptedException e) {
                        return;
                    }
                    accepted.set(tracer.cancel());
                });
                canceller.start();
                boolean cancelled = endedCancelled(tracer, (percent, message) -> started.countDown());
                canceller.join();
                assertEquals(accepted.get(), cancelled, "scan " + i + ": cancel() answered " + accepted.get());
            }
        }
    }
}
