package jtrazelo.tracer;

/**
 * A hole drilled through the lens for a rimless mount, in mm about the centre of the lens
 * opening's box, seen from the front: {@code x} towards 3 o'clock (the nasal side of a right lens,
 * the temporal side of a left one), {@code y} up. {@link FrameTrace} states the conventions.
 *
 * @param x the hole's centre, horizontally
 * @param y the hole's centre, vertically
 * @param diameter the hole's diameter, positive
 */
public record DrillHole(double x, double y, double diameter) {
    /**
     * Checks that the values are finite and the diameter positive.
     *
     * @param x the hole's centre, horizontally, mm
     * @param y the hole's centre, vertically, mm
     * @param diameter the hole's diameter, mm
     * @throws IllegalArgumentException when they are not
     */
    public DrillHole {
        if (!Double.isFinite(x) || !Double.isFinite(y)) {
            throw new IllegalArgumentException("Drill hole centre is not a finite point: " + x + ", " + y);
        }
        if (!(diameter > 0) || !Double.isFinite(diameter)) {
            throw new IllegalArgumentException("Drill hole diameter must be positive: " + diameter);
        }
    }

    /** {@return this hole in the mirror image of the outline (x to -x), as for the other eye} */
    public DrillHole mirrored() {
        return new DrillHole(-x, y, diameter);
    }
}
