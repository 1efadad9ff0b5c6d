package jtrazelo.dcs;

import java.util.List;
import java.util.Objects;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;

/**
 * What a document says about one eye: the decoded trace used for it and its figures
 * ({@link DcsDocument#side(Eye)}). A figure that the file does not give is {@link Double#NaN}.
 *
 * @param eye the eye
 * @param trace the trace for this eye: its own (side R or L), or one for both eyes (side B)
 * @param mirrored true when {@code trace} is a side B trace, given for the right lens, used for the
 *     left eye: this eye's outline is its mirror image
 * @param boxWidth HBOX, mm
 * @param boxHeight VBOX, mm
 * @param circumference CIRC, the perimeter of the outline, mm
 * @param frameCurve FCRV, the frame's base curve, dioptres
 * @param drillHoles the eye's drill holes about the box centre, as {@link DcsHole#at(Eye)} gives them
 */
public record DcsSide(Eye eye, DcsTrace trace, boolean mirrored, double boxWidth, double boxHeight,
        double circumference, double frameCurve, List<DrillHole> drillHoles) {
    /**
     * Checks the trace and copies the holes.
     *
     * @param eye the eye
     * @param trace its decoded trace
     * @param mirrored true for the left eye of a side B trace
     * @param boxWidth HBOX, mm
     * @param boxHeight VBOX, mm
     * @param circumference CIRC, mm
     * @param frameCurve FCRV, dioptres
     * @param drillHoles the drill holes about the box centre
     */
    public DcsSide {
        Objects.requireNonNull(eye, "eye");
        if (!Objects.requireNonNull(trace, "trace").isDecoded()) {
            throw new IllegalArgumentException("a side needs a decoded trace");
        }
        drillHoles = List.copyOf(drillHoles);
    }

    /** {@return a copy of the trace's radii, 1/100 mm} */
    public int[] radii() {
        return trace.radii();
    }

    /** {@return the number of trace points} */
    public int pointCount() {
        return trace.count();
    }

    /** {@return the trace's radii in mm (NaN for points not measured)} */
    public double[] radiiMm() {
        double[] mm = new double[trace.count()];
        for (int i = 0; i < mm.length; i++) {
            mm[i] = trace.radiusMm(i);
        }
        return mm;
    }
}
