package jtztests.tracer;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import ezjcom.RuntimeTesting;
import jtztests.ProcessFigures;
import java.util.ArrayList;
import java.util.List;
import jtrazelo.simulator.SimulatedBench;
import jtrazelo.tracer.DeviceNotReadyException;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;
import jtrazelo.tracer.ScanFailedException;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerException;
import jtrazelo.tracer.TracerSettings;
import jtrazelo.tracer.UncheckedTracerException;
import java.time.Duration;
import java.time.temporal.ChronoUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;
import puente.IScanMontura;
import puente.ScanMontura;

/** The tracer API against the simulated component and its bench of four frames. */
class TracerTest {
    private static final int E_FAIL = 0x80004005;
    private static final int E_INVALIDARG = 0x80070057;
    /** How long a test waits for threads to end or events to arrive (a safeguard, not a measurement). */
    private static final long PATIENCE_MILLIS = 20_000;

    private static TracerSettings.Builder settings(int port) {
        return TracerSettings.builder().port(port).speed(10);
    }

    @AfterEach
    void clearForcedOutcomes() {
        RuntimeTesting.reset();
    }

    @ParameterizedTest(name = "port {0}: {1}")
    @CsvSource({
        "1, rectangular, 52, 38, 0, 18",
        "2, oval,        50, 36, 0, 17",
        "3, aviator,     56, 48, 0, 19",
        "4, rimless,     50, 34, 2, 20",
    })
    void eachFrameDecodesToItsOutline(int port, String frame, double width, double height, int holes,
            double dbl) throws TracerException {
        FrameTrace trace;
        try (Tracer tracer = Tracer.open(settings(port).build())) {
            trace = tracer.scan();
        }
        assertEquals(400, trace.pointCount());
        assertEquals(Eye.RIGHT, trace.eye());
        // The decoded outline agrees with the component's own figures...
        assertEquals(trace.boxWidth(), trace.computedBox().width(), 0.1, "box width");
        assertEquals(trace.boxHeight(), trace.computedBox().height(), 0.1, "box height");
        assertEquals(trace.perimeter(), trace.computedPerimeter(), 0.1, "perimeter");
        // ...which are those of the frame on that port.
        assertEquals(width, trace.boxWidth(), 1.5, frame + " width");
        assertEquals(height, trace.boxHeight(), 1.5, frame + " height");
        assertEquals(dbl, trace.dbl(), 0.01, frame + " DBL");
        assertEquals(trace.boxWidth() + trace.dbl(), trace.distanceBetweenCentres(), 0.01);
        assertEquals(holes, trace.drillHoles().size());
        FrameTrace.Box box = trace.computedBox();
        assertEquals(0, box.minX() + box.maxX(), 0.02, "outline about the box centre");
        assertEquals(0, box.minY() + box.maxY(), 0.02, "outline about the box centre");
        for (DrillHole hole : trace.drillHoles()) {
            assertTrue(Math.abs(hole.x()) < width / 2 && Math.abs(hole.y()) < height / 2, "hole inside the lens");
        }
    }

    @Test
    void scanModeAndEyeReachTheComponent() throws TracerException {
        FrameTrace right;
        FrameTrace left;
        FrameTrace fine;
        try (Tracer tracer = Tracer.open(settings(3).build())) {
            right = tracer.scan();
        }
        try (Tracer tracer = Tracer.open(settings(3).eye(Eye.LEFT).build())) {
            left = tracer.scan();
        }
        try (Tracer tracer = Tracer.open(settings(3).scanMode(2).build())) {
            fine = tracer.scan();
        }
        assertEquals(Eye.LEFT, left.eye());
        // The aviator frame is not symmetric about either axis: only a true mirror matches.
        assertArrayEquals(right.mirror().radii(), left.radii(), 1e-9);
        assertEquals(1000, fine.pointCount());
        assertEquals(right.boxWidth(), fine.boxWidth(), 0.2);
    }

    @Test
    void leftEyeHolesAreMirrored() throws TracerException {
        List<DrillHole> right;
        List<DrillHole> left;
        try (Tracer tracer = Tracer.open(settings(4).build())) {
            right = tracer.scan().drillHoles();
        }
        try (Tracer tracer = Tracer.open(settings(4).eye(Eye.LEFT).build())) {
            left = tracer.scan().drillHoles();
        }
        assertEquals(right.stream().map(DrillHole::mirrored).toList(), left);
    }

    @Test
    void progressRisesToCompletionAndFollowsEvents() throws TracerException {
        List<Integer> percents = new ArrayList<>();
        List<String> messages = new ArrayList<>();
        try (Tracer tracer = Tracer.open(settings(1).speed(5).build())) {
            tracer.scan((percent, message) -> {
                percents.add(percent);
                messages.add(message);
            });
            assertTrue(tracer.changeEvents() > 0, "the component's OnChange events reached the tracer");
        }
        assertTrue(percents.size() >= 2, "progress before the end: " + percents);
        for (int i = 1; i < percents.size(); i++) {
            assertTrue(percents.get(i) > percents.get(i - 1), "rising: " + percents);
        }
        assertTrue(percents.get(0) < 100);
        assertEquals(100, percents.get(percents.size() - 1));
        assertTrue(messages.get(messages.size() - 1).contains("400"), messages.toString());
    }

    @Test
    void secondScanOfOneTracerGivesTheSameTrace() throws TracerException {
        try (Tracer tracer = Tracer.open(settings(2).build())) {
            assertEquals(tracer.scan(), tracer.scan());
        }
    }

    @Test
    void refusedSettingsSurfaceWithTheComponentsDescription() {
        try (ScanMontura component = ScanMontura.create(); SimulatedBench bench = SimulatedBench.of(component)) {
            bench.failMember("PuertoComm", E_INVALIDARG, "Puerto no v\u00e1lido");
            DeviceNotReadyException port = assertThrows(DeviceNotReadyException.class,
                    () -> Tracer.open(settings(3).build(), component));
            assertEquals(E_INVALIDARG, port.hResult());
            assertEquals("Puerto no v\u00e1lido", port.description());
            assertTrue(port.getMessage().startsWith("opening port 3: Puerto no v\u00e1lido"), port.getMessage());
            assertTrue(port.getMessage().contains("0x80070057"), port.getMessage());
            bench.restoreMember("PuertoComm");

            bench.failMember("Velocidad", E_INVALIDARG, null);
            DeviceNotReadyException speed = assertThrows(DeviceNotReadyException.class,
                    () -> Tracer.open(settings(1).speed(7).build(), component));
            assertEquals(E_INVALIDARG, speed.hResult());
            assertTrue(speed.getMessage().startsWith("setting speed 7"), speed.getMessage());
        }
    }

    @Test
    void scanWithoutPortFailsAndCloseStillClosesTheDevice() throws TracerException {
        Tracer tracer = Tracer.open(settings(1).build());
        IScanMontura device = tracer.component().dispatch();  // the test's own reference outlives close()
        device.setPuertoComm((short) 0);
        ScanFailedException e = assertThrows(ScanFailedException.class, tracer::scan);
        assertEquals(E_FAIL, e.hResult());
        assertEquals(ScanFailedException.Reason.REFUSED, e.reason());
        assertNotNull(e.description());
        assertFalse(e.description().isEmpty());
        device.setPuertoComm((short) 1);
        assertEquals(1, device.getStatus(), "port open again");
        tracer.close();
        assertEquals(0, device.getStatus(), "closed after the failure");
        assertEquals(0, tracer.listenerCookie());
        device.close();
    }

    @Test
    void closeClosesTheDeviceOnceAndForAll() throws TracerException {
        Tracer tracer = Tracer.open(settings(2).build());
        IScanMontura device = tracer.component().dispatch();  // the test's own reference outlives close()
        tracer.scan();
        assertEquals(200, device.getStatus());
        tracer.close();
        assertTrue(tracer.isClosed());
        assertEquals(0, device.getStatus());
        tracer.close();  // a second close does nothing
        assertThrows(IllegalStateException.class, tracer::scan);
        assertEquals(400, device.getRadioDeltas().split(";").length, "the last trace stays readable");
        NullPointerException released = assertThrows(NullPointerException.class, tracer.device()::getStatus);
        assertEquals("Uninitialized JComObject", released.getMessage(), "the tracer gave its wrapper back");
        assertFalse(tracer.component().isBound(), "and the component it created");
        device.close();
    }

    @Test
    void failureForcedInTheBridgeIsTypedAndCloseStillRuns() throws TracerException {
        Tracer tracer = Tracer.open(settings(1).build());
        IScanMontura device = tracer.component().dispatch();  // the test's own reference outlives close()
        RuntimeTesting.forceHresult("ezjcomInvokeHelper", E_FAIL, 1);  // Explora's call
        ScanFailedException e = assertThrows(ScanFailedException.class, tracer::scan);
        assertEquals(E_FAIL, e.hResult());
        tracer.close();
        assertEquals(0, device.getStatus());
        device.close();
    }

    @Test
    void failingCloseStillDisconnectsTheListener() throws TracerException {
        Tracer tracer = Tracer.open(settings(1).build());
        IScanMontura device = tracer.component().dispatch();  // the test's own reference outlives close()
        RuntimeTesting.forceHresult("ezjcomInvokeHelper", E_FAIL, 1);  // Cierra's call
        UncheckedTracerException e = assertThrows(UncheckedTracerException.class, tracer::close);
        assertEquals(E_FAIL, e.getCause().hResult());
        assertEquals(0, tracer.listenerCookie(), "listener disconnected all the same");
        assertFalse(tracer.device().isBound(), "references given back all the same");
        device.Cierra();
        device.close();
    }

    /** Opens and closes tracers as a lab program does all day; each cycle starts the component's threads. */
    private static void openAndClose(TracerSettings settings, int cycles) throws TracerException {
        for (int i = 0; i < cycles; i++) {
            try (Tracer tracer = Tracer.open(settings)) {
                tracer.device().setText("cycle " + i);  // an event to deliver: the event thread runs
            }
        }
    }

    @Test
    void openCloseCyclesGiveTheirThreadsAndMemoryBack() throws Exception {
        TracerSettings settings = settings(1).build();
        openAndClose(settings, 20);
        long threads = ProcessFigures.threads();
        long resident = ProcessFigures.residentKb();
        openAndClose(settings, 400);
        long left = ProcessFigures.awaitThreadsAtMost(threads + 2, PATIENCE_MILLIS);
        assertTrue(left <= threads + 2, "threads: " + threads + " before, " + left + " after 400 cycles");
        long grown = ProcessFigures.residentKb() - resident;
        // AddressSanitizer keeps freed memory in quarantine: RSS says nothing there.
        if (System.getenv("ASAN_OPTIONS") == null) {
            assertTrue(grown < 16 * 1024, "RSS grew by " + grown + " kB in 400 cycles");
        }
    }

    @ParameterizedTest(name = "port {0}, speed {1}, mode {2}")
    @CsvSource({
        "0,  5,  1, port",
        "17, 5,  1, port",
        "-1, 5,  1, port",
        "1,  0,  1, speed",
        "1,  11, 1, speed",
        "1,  5,  0, scan mode",
        "1,  5,  3, scan mode",
    })
    void settingsOutsideTheDevicesRangesAreRefusedByBuild(int port, int speed, int mode, String named) {
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class,
                () -> TracerSettings.builder().port(port).speed(speed).scanMode(mode).build());
        assertTrue(e.getMessage().startsWith(named + " must be"), e.getMessage());
    }

    @Test
    void settingsKeepTheirDefaultsAndNulls() {
        assertThrows(NullPointerException.class, () -> TracerSettings.builder().eye(null).build());
        TracerSettings defaults = TracerSettings.builder().build();
        assertEquals(defaults, defaults.toBuilder().build());
        assertEquals(Eye.RIGHT, defaults.eye());
    }

    @ParameterizedTest(name = "time-out {0}")
    @ValueSource(strings = {"PT-0.005S", "PT0S"})
    void timeOutThatIsNotPositiveIsRefusedBeforeTheScanStarts(String timeout) throws TracerException {
        try (Tracer tracer = Tracer.open(settings(1).build())) {
            assertThrows(IllegalArgumentException.class,
                    () -> tracer.scan((percent, message) -> {}, Duration.parse(timeout)));
            assertEquals(1, tracer.status(), "no scan was started");
        }
        assertThrows(IllegalArgumentException.class,
                () -> settings(1).scanTimeout(Duration.parse(timeout)).build());
    }

    @ParameterizedTest(name = "time-out {0}")
    @ValueSource(strings = {"forever", "PT8760000H"})
    void timeOutBeyondAnyScanMeansNoLimit(String timeout) throws TracerException {
        Duration limit = timeout.equals("forever") ? ChronoUnit.FOREVER.getDuration() : Duration.parse(timeout);
        try (Tracer tracer = Tracer.open(settings(1).build())) {
            assertEquals(400, tracer.scan((percent, message) -> {}, limit).pointCount());
        }
        try (Tracer tracer = Tracer.open(settings(1).scanTimeout(limit).build())) {
            assertEquals(400, tracer.scan().pointCount());
        }
    }

    @Test
    void useAfterCloseIsOneIllegalStateExceptionInAnyOrder() throws TracerException {
        ScanMontura closed = ScanMontura.create();
        closed.close();
        IllegalStateException open = assertThrows(IllegalStateException.class,
                () -> Tracer.open(settings(1).build(), closed));
        assertTrue(open.getMessage().contains("closed"), open.getMessage());

        for (boolean componentFirst : new boolean[] {false, true}) {
            ScanMontura component = ScanMontura.create();
            Tracer tracer = Tracer.open(settings(1).build(), component);
            if (componentFirst) {
                component.close();
                IllegalStateException scan = assertThrows(IllegalStateException.class, tracer::scan);
                assertTrue(scan.getMessage().contains("component is closed"), scan.getMessage());
            }
            tracer.close();
            component.close();
            tracer.close();
            IllegalStateException scan = assertThrows(IllegalStateException.class, tracer::scan);
            assertTrue(scan.getMessage().contains("tracer is closed"), scan.getMessage());
            assertThrows(IllegalStateException.class, tracer::status);
        }
    }

    @Test
    void aComponentTakesOneOpenTracerAtATime() throws TracerException {
        try (ScanMontura component = ScanMontura.create()) {
            Tracer right = Tracer.open(settings(3).build(), component);
            DeviceNotReadyException second = assertThrows(DeviceNotReadyException.class,
                    () -> Tracer.open(settings(3).eye(Eye.LEFT).build(), component));
            assertTrue(second.getMessage().contains("port 3, right eye"), second.getMessage());
            FrameTrace rightTrace = right.scan();  // the refused open left the device as it was
            assertEquals(Eye.RIGHT, rightTrace.eye());
            right.close();
            try (Tracer left = Tracer.open(settings(3).eye(Eye.LEFT).build(), component)) {
                // The aviator frame is not symmetric: only the other eye's true mirror matches.
                assertArrayEquals(rightTrace.mirror().radii(), left.scan().radii(), 1e-9);
            }
        }
    }
}
