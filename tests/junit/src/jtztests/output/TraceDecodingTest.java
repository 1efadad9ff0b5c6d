package jtztests.output;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import jtrazelo.tracer.DeltaTraceFormat;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;
import jtrazelo.tracer.TraceFormat;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** Decoding of the component's trace values and the geometry recomputed from them. */
class TraceDecodingTest {
    private final TraceFormat format = DeltaTraceFormat.INSTANCE;

    @Test
    void deltasAccumulateFromTheRoundedInitialRadius() {
        // 25.37f is 25.3699989...: the format rounds it to whole hundredths first.
        assertArrayEquals(new double[] {25.37, 25.47, 25.27, 25.32, 25.32},
                format.decodeRadii(25.37f, "5;10;-20;5;0"), 1e-12);
    }

    @Test
    void encodedOutlineDecodesExactly() {
        double[] radii = Shapes.egg(1000);
        StringBuilder deltas = new StringBuilder().append(radii.length);
        for (int i = 1; i < radii.length; i++) {
            deltas.append(';').append(Math.round(radii[i] * 100) - Math.round(radii[i - 1] * 100));
        }
        assertArrayEquals(radii, format.decodeRadii((float) radii[0], deltas.toString()), 1e-9);
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "''                | empty",
        "4;1;2             | 2 deltas for 4 points",
        "3;1;2;3           | 3 deltas for 3 points",
        "x;1;2             | point count",
        "3;1;two           | delta 2",
        "2;1               | at least 3",
        "3;-2600;0         | not positive",
    })
    void malformedDeltasAreRefused(String deltas, String reason) {
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class,
                () -> format.decodeRadii(25f, deltas));
        assertTrue(e.getMessage().contains(reason), e.getMessage());
    }

    @Test
    void drillHoles() {
        assertEquals(List.of(), format.decodeDrillHoles("0"));
        assertEquals(List.of(), format.decodeDrillHoles(""));
        assertEquals(List.of(new DrillHole(22.5, 4, 1.4), new DrillHole(-22.5, 4, 1.4)),
                format.decodeDrillHoles("2;22.50,4.00,1.40;-22.50,4.00,1.40"));
        for (String bad : new String[] {"2;1,2,3", "1;1,2", "1;1,2,0", "1;a,2,3", "-1", "1;1,NaN,2"}) {
            assertThrows(IllegalArgumentException.class, () -> format.decodeDrillHoles(bad), bad);
        }
    }

    @Test
    void circleGeometry() {
        double[] radii = new double[360];
        java.util.Arrays.fill(radii, 10);
        FrameTrace circle = new FrameTrace(Eye.RIGHT, radii, 20, 20, 0, 0, 0, 0, List.of());
        assertEquals(20, circle.computedBox().width(), 1e-9);
        assertEquals(20, circle.computedBox().height(), 1e-9);
        // The polygon's perimeter: 360 chords of 1 degree.
        assertEquals(360 * 2 * 10 * Math.sin(Math.PI / 360), circle.computedPerimeter(), 1e-9);
        assertEquals(0, circle.x(90), 1e-9);
        assertEquals(10, circle.y(90), 1e-9);
    }

    @Test
    void mirrorIsTheImageAboutTheVerticalAxis() {
        FrameTrace trace = Shapes.drilled();
        FrameTrace mirror = trace.mirror();
        assertEquals(Eye.LEFT, mirror.eye());
        for (int i = 0; i < trace.pointCount(); i++) {
            int j = Math.floorMod(trace.pointCount() / 2 - i, trace.pointCount());
            assertEquals(-trace.x(j), mirror.x(i), 1e-9);
            assertEquals(trace.y(j), mirror.y(i), 1e-9);
        }
        assertEquals(trace.computedBox().minX(), -mirror.computedBox().maxX(), 1e-9);
        assertEquals(trace.computedPerimeter(), mirror.computedPerimeter(), 1e-9);
        assertEquals(-19.5, mirror.drillHoles().get(0).x());
        assertEquals(trace, mirror.mirror());
    }

    @Test
    void mirrorOfAnOddOutlineLiesOnTheOutline() {
        double[] radii = new double[15];
        java.util.Arrays.fill(radii, 10);
        FrameTrace mirror = new FrameTrace(Eye.RIGHT, radii, 0, 0, 0, 0, 0, 0, List.of()).mirror();
        // Half-way along a chord of a 15-gon of radius 10.
        for (double r : mirror.radii()) {
            assertEquals(10 * Math.cos(Math.PI / 15), r, 1e-9);
        }
    }
}
