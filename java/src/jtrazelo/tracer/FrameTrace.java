package jtrazelo.tracer;

import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/**
 * What one scan measured: the outline of one lens opening and the figures the component gave for
 * it. Immutable.
 *
 * <p>The outline is a list of radii in mm at equally spaced angles: point i of N lies at
 * {@code 360 * i / N} degrees about the centre of the opening's box, as the coordinates below say.
 * The component's own figures ({@link #boxWidth()}, {@link #perimeter()}...) come with it;
 * {@link #computedBox()} and {@link #computedPerimeter()} recompute box and perimeter from the
 * radii (the perimeter as the closed polygon through the points), so the two can be compared.
 *
 * <h2>Coordinates</h2>
 *
 * <p>Positions and angles of the tracer API ({@link FrameTrace}, {@link DrillHole},
 * {@link TraceFormat}) and of the DCS and SVG output are all taken as the upright frame is seen
 * from the front, by someone facing the wearer:
 *
 * <ul>
 *   <li>the origin is the centre of the lens opening's box; x points towards 3 o'clock and y up,
 *       in mm;
 *   <li>angles are counted counter-clockwise from 3 o'clock;
 *   <li>the right eye's lens is on the viewer's left: its nasal side is towards 3 o'clock
 *       ({@code x > 0}, angle 0) and its temporal side towards 9 o'clock;
 *   <li>the left eye's lens is on the viewer's right: its nasal side is towards 9 o'clock
 *       ({@code x < 0}, angle 180 degrees) and its temporal side towards 3 o'clock
 *       ({@link #nasalDirection()});
 *   <li>the two eyes' outlines are mirror images about the vertical axis, x to -x and angle t to
 *       180 degrees minus t ({@link #mirror()}).
 * </ul>
 *
 * <p>The ScanMontura component measures in these axes, and DCS traces use them too, so radii and
 * drill holes go into a DCS file as they are. The wearer sees the frame from the back, where the
 * sides swap and angles run clockwise.
 */
public final class FrameTrace {
    private final Eye eye;
    private final double[] radii;
    private final double boxWidth;
    private final double boxHeight;
    private final double dbl;
    private final double centreDistance;
    private final double baseCurve;
    private final double perimeter;
    private final List<DrillHole> drillHoles;

    /**
     * Makes a trace.
     *
     * @param eye the eye traced
     * @param radii the outline's radii in mm (copied), at least three, each positive
     * @param boxWidth the component's box width, mm
     * @param boxHeight the component's box height, mm
     * @param dbl the distance between lenses, mm
     * @param centreDistance the distance between the box centres, mm
     * @param baseCurve the frame's base curve, dioptres
     * @param perimeter the component's perimeter of the outline, mm
     * @param drillHoles the drill holes (copied)
     */
    public FrameTrace(Eye eye, double[] radii, double boxWidth, double boxHeight, double dbl,
            double centreDistance, double baseCurve, double perimeter, List<DrillHole> drillHoles) {
        this.eye = Objects.requireNonNull(eye, "eye");
        this.radii = radii.clone();
        if (this.radii.length < 3) {
            throw new IllegalArgumentException("an outline needs at least 3 points: " + radii.length);
        }
        for (int i = 0; i < this.radii.length; i++) {
            if (!(this.radii[i] > 0) || !Double.isFinite(this.radii[i])) {
                throw new IllegalArgumentException("radius " + i + " is not a positive length: " + radii[i]);
            }
        }
        this.boxWidth = boxWidth;
        this.boxHeight = boxHeight;
        this.dbl = dbl;
        this.centreDistance = centreDistance;
        this.baseCurve = baseCurve;
        this.perimeter = perimeter;
        this.drillHoles = List.copyOf(drillHoles);
    }

    /** {@return the eye traced} */
    public Eye eye() {
        return eye;
    }

    /** {@return the number of points of the outline} */
    public int pointCount() {
        return radii.length;
    }

    /** {@return a copy of the outline's radii, mm} */
    public double[] radii() {
        return radii.clone();
    }

    /**
     * Returns the radius of a point.
     *
     * @param i the point
     * @return the radius, mm
     */
    public double radius(int i) {
        return radii[i];
    }

    /**
     * Returns the angle of a point, counter-clockwise from 3 o'clock (seen from the front).
     *
     * @param i the point
     * @return the angle, radians
     */
    public double angle(int i) {
        return 2 * Math.PI * i / radii.length;
    }

    /**
     * Returns the horizontal position of a point about the box centre, towards 3 o'clock.
     *
     * @param i the point
     * @return the position, mm
     */
    public double x(int i) {
        return radii[i] * Math.cos(angle(i));
    }

    /**
     * Returns the vertical position of a point about the box centre, up.
     *
     * @param i the point
     * @return the position, mm
     */
    public double y(int i) {
        return radii[i] * Math.sin(angle(i));
    }

    /**
     * Returns where the nasal side of this eye's lens lies along x: +1 towards 3 o'clock (the right
     * eye), -1 towards 9 o'clock (the left eye); the temporal side lies the other way.
     *
     * @return +1 or -1
     */
    public int nasalDirection() {
        return eye == Eye.RIGHT ? 1 : -1;
    }

    /** {@return the component's box width, mm} */
    public double boxWidth() {
        return boxWidth;
    }

    /** {@return the component's box height, mm} */
    public double boxHeight() {
        return boxHeight;
    }

    /** {@return the distance between lenses (DBL), mm} */
    public double dbl() {
        return dbl;
    }

    /** {@return the distance between the centres of the two boxes, mm} */
    public double distanceBetweenCentres() {
        return centreDistance;
    }

    /** {@return the frame's base curve, dioptres} */
    public double baseCurve() {
        return baseCurve;
    }

    /** {@return the component's perimeter of the outline, mm} */
    public double perimeter() {
        return perimeter;
    }

    /** {@return the drill holes; empty for a frame without any} */
    public List<DrillHole> drillHoles() {
        return drillHoles;
    }

    /** {@return the box of the outline recomputed from the radii} */
    public Box computedBox() {
        double minX = Double.POSITIVE_INFINITY;
        double maxX = Double.NEGATIVE_INFINITY;
        double minY = Double.POSITIVE_INFINITY;
        double maxY = Double.NEGATIVE_INFINITY;
        for (int i = 0; i < radii.length; i++) {
            double x = x(i);
            double y = y(i);
            minX = Math.min(minX, x);
            maxX = Math.max(maxX, x);
            minY = Math.min(minY, y);
            maxY = Math.max(maxY, y);
        }
        return new Box(minX, maxX, minY, maxY);
    }

    /** {@return the perimeter recomputed from the radii: the closed polygon through the points, mm} */
    public double computedPerimeter() {
        double sum = 0;
        for (int i = 0; i < radii.length; i++) {
            int j = (i + 1) % radii.length;
            sum += Math.hypot(x(j) - x(i), y(j) - y(i));
        }
        return sum;
    }

    /**
     * Returns the trace of the other eye, the mirror image of this one about the vertical axis
     * through the box centre (x to -x, as the two lenses of a frame mirror each other): the radius
     * at angle t of the mirror is this trace's radius at 180 degrees minus t. With an even number
     * of points that is point {@code (N/2 - i) mod N} for point i; with an odd number it lies
     * between two points and is interpolated along the outline. Each drill hole moves to -x. Box,
     * distances, base curve and perimeter stay.
     *
     * @return the other eye's trace
     */
    public FrameTrace mirror() {
        int n = radii.length;
        double[] mirrored = new double[n];
        for (int i = 0; i < n; i++) {
            if (n % 2 == 0) {
                mirrored[i] = radii[Math.floorMod(n / 2 - i, n)];
            } else {
                // Half-way between points a and a + 1: where that ray meets the chord from a to a + 1.
                int a = Math.floorMod(n / 2 - i, n);
                int b = (a + 1) % n;
                double half = Math.PI / n;  // half the angle between two points
                double xa = radii[a];
                double xb = radii[b] * Math.cos(2 * half);
                double yb = radii[b] * Math.sin(2 * half);
                double cross = Math.cos(half) * yb - Math.sin(half) * (xb - xa);
                mirrored[i] = (xa * yb) / cross;
            }
        }
        return new FrameTrace(eye.other(), mirrored, boxWidth, boxHeight, dbl, centreDistance,
                baseCurve, perimeter, drillHoles.stream().map(DrillHole::mirrored).toList());
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof FrameTrace t
                && eye == t.eye
                && Arrays.equals(radii, t.radii)
                && Double.compare(boxWidth, t.boxWidth) == 0
                && Double.compare(boxHeight, t.boxHeight) == 0
                && Double.compare(dbl, t.dbl) == 0
                && Double.compare(centreDistance, t.centreDistance) == 0
                && Double.compare(baseCurve, t.baseCurve) == 0
                && Double.compare(perimeter, t.perimeter) == 0
                && drillHoles.equals(t.drillHoles);
    }

    @Override
    public int hashCode() {
        return Objects.hash(eye, Arrays.hashCode(radii), boxWidth, boxHeight, dbl, centreDistance,
                baseCurve, perimeter, drillHoles);
    }

    @Override
    public String toString() {
        return String.format(java.util.Locale.ROOT,
                "FrameTrace[%s eye, %d points, box %.2f x %.2f mm, DBL %.2f mm, perimeter %.2f mm, %d holes]",
                eye == Eye.RIGHT ? "right" : "left", radii.length, boxWidth, boxHeight, dbl, perimeter,
                drillHoles.size());
    }

    /**
     * A box about the outline's centre, mm.
     *
     * @param minX the leftmost x
     * @param maxX the rightmost x
     * @param minY the lowest y
     * @param maxY the highest y
     */
    public record Box(double minX, double maxX, double minY, double maxY) {
        /** {@return the box's width} */
        public double width() {
            return maxX - minX;
        }

        /** {@return the box's height} */
        public double height() {
            return maxY - minY;
        }
    }
}
