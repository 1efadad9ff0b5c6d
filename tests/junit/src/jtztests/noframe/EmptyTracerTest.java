package jtztests.noframe;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import jtrazelo.tracer.ScanCancelledException;
import jtrazelo.tracer.ScanFailedException;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerSettings;
import org.junit.jupiter.api.Test;

/** Run with SCANMONTURA_SIM_FRAME=none: the simulated tracers hold no frame, every scan fails. */
class EmptyTracerTest {
    @Test
    void failedScanCarriesTheComponentsOwnWordsAndTheTracerScansAgain() throws Exception {
        try (Tracer tracer = Tracer.open(TracerSettings.builder().port(1).speed(10).build())) {
            for (int attempt = 0; attempt < 2; attempt++) {
                ScanFailedException e = assertThrows(ScanFailedException.class, tracer::scan);
                assertFalse(e instanceof ScanCancelledException);
                assertEquals(ScanFailedException.Reason.NO_FRAME, e.reason());
                assertEquals("Scan failed: no frame in the tracer", e.description());
                assertTrue(e.getMessage().endsWith(": Scan failed: no frame in the tracer"), e.getMessage());
                assertEquals(-1, tracer.status(), "attempt " + attempt + ": failed, not still scanning");
            }
        }
    }
}
