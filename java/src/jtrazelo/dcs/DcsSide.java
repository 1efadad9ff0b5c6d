package jtrazelo.dcs;

import java.util.Arrays;
import java.util.List;
import java.util.Objects;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;

/**
 * One side (eye) of a DCS job: its trace and the figures recorded for it. A figure that the file
 * does not give is {@link Double#NaN}.
 *
 * @param eye the side
 * @param radii the trace's radii in 1/100 mm, equally spaced, point i at {@code 360 * i / N}
 *     degrees counter-clockwise from 3 o'clock about the box centre (copied; at least one)
 * @param boxWidth HBOX, mm
 * @param boxHeight VBOX, mm
 * @param circumference CIRC, the perimeter of the outline, mm
 * @param frameCurve FCRV, the frame's base curve, dioptres
 * @param drillHoles DRILLE records of this side (copied)
 */
public record DcsSide(Eye eye, int[] radii, double boxWidth, double boxHeight, double circumference,
        double frameCurve, List<DrillHole> drillHoles) {
    /** Checks and copies the values. */
    public DcsSide {
        Objects.requireNonNull(eye, "eye");
        radii = radii.clone();
        if (radii.length == 0) {
            throw new IllegalArgumentException("a trace needs at least one radius");
        }
        drillHoles = List.copyOf(drillHoles);
    }

    /** Returns a copy of the radii, 1/100 mm. */
    @Override
    public int[] radii() {
        return radii.clone();
    }

    /** Returns the number of trace points. */
    public int pointCount() {
        return radii.length;
    }

    /** Returns the radii in mm. */
    public double[] radiiMm() {
        double[] mm = new double[radii.length];
        for (int i = 0; i < radii.length; i++) {
            mm[i] = radii[i] / 100.0;
        }
        return mm;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof DcsSide s
                && eye == s.eye
                && Arrays.equals(radii, s.radii)
                && Double.compare(boxWidth, s.boxWidth) == 0
                && Double.compare(boxHeight, s.boxHeight) == 0
                && Double.compare(circumference, s.circumference) == 0
                && Double.compare(frameCurve, s.frameCurve) == 0
                && drillHoles.equals(s.drillHoles);
    }

    @Override
    public int hashCode() {
        return Objects.hash(eye, Arrays.hashCode(radii), boxWidth, boxHeight, circumference,
                frameCurve, drillHoles);
    }

    @Override
    public String toString() {
        return "DcsSide[" + eye.letter() + ", " + radii.length + " radii, HBOX " + boxWidth
                + ", VBOX " + boxHeight + ", CIRC " + circumference + ", FCRV " + frameCurve + ", "
                + drillHoles.size() + " holes]";
    }
}
