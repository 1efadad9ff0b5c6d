package jtrazelo.tracer;

import java.util.ArrayList;
import java.util.List;

/**
 * The ScanMontura component's trace format.
 *
 * <p>Outline: {@code getRadioIni} is the radius r0 of point 0 in mm; {@code getRadioDeltas} is
 * {@code "N;d1;d2;...;d(N-1)"}: N points, and for each point after the first the change of radius
 * from the point before, in whole 1/100 mm. With {@code R0 = round(r0 * 100)}, radius i in mm is
 * {@code (R0 + d1 + ... + di) / 100}.
 *
 * <p>Drill holes: {@code getTaladros} is {@code "K"} followed by {@code ";x,y,d"} for each of the
 * K holes (centre x towards 3 o'clock and y up about the box centre, diameter d, in mm); "0" when
 * there are none.
 */
public final class DeltaTraceFormat implements TraceFormat {
    /** The one instance; the format has no state. */
    public static final DeltaTraceFormat INSTANCE = new DeltaTraceFormat();

    private DeltaTraceFormat() {}

    @Override
    public double[] decodeRadii(float initialRadius, String radiusDeltas) {
        if (radiusDeltas == null || radiusDeltas.isEmpty()) {
            throw new IllegalArgumentException("radius deltas: empty (no trace)");
        }
        if (!Float.isFinite(initialRadius) || initialRadius <= 0) {
            throw new IllegalArgumentException("initial radius: not a positive length: " + initialRadius);
        }
        String[] fields = radiusDeltas.split(";", -1);
        int count = parseInt(fields[0], "radius deltas: point count");
        if (count < 3) {
            throw new IllegalArgumentException("radius deltas: " + count + " points, at least 3 needed");
        }
        if (fields.length != count) {
            throw new IllegalArgumentException("radius deltas: " + (fields.length - 1)
                    + " deltas for " + count + " points (expected " + (count - 1) + ")");
        }
        double[] radii = new double[count];
        long hundredths = Math.round(initialRadius * 100.0);
        radii[0] = hundredths / 100.0;
        for (int i = 1; i < count; i++) {
            hundredths += parseInt(fields[i], "radius deltas: delta " + i);
            if (hundredths <= 0) {
                throw new IllegalArgumentException("radius deltas: radius of point " + i
                        + " is not positive (" + hundredths + " hundredths of a mm)");
            }
            radii[i] = hundredths / 100.0;
        }
        return radii;
    }

    @Override
    public List<DrillHole> decodeDrillHoles(String drillHoles) {
        if (drillHoles == null || drillHoles.isEmpty()) {
            return List.of();
        }
        String[] fields = drillHoles.split(";", -1);
        int count = parseInt(fields[0], "drill holes: count");
        if (count < 0 || fields.length != count + 1) {
            throw new IllegalArgumentException("drill holes: count " + fields[0] + " but "
                    + (fields.length - 1) + " holes given");
        }
        List<DrillHole> holes = new ArrayList<>(count);
        for (int i = 1; i <= count; i++) {
            String[] xyd = fields[i].split(",", -1);
            if (xyd.length != 3) {
                throw new IllegalArgumentException("drill holes: hole " + i + " is not x,y,d: \""
                        + fields[i] + "\"");
            }
            String what = "drill holes: hole " + i;
            try {
                holes.add(new DrillHole(parseDouble(xyd[0], what), parseDouble(xyd[1], what),
                        parseDouble(xyd[2], what)));
            } catch (IllegalArgumentException e) {
                throw new IllegalArgumentException(what + ": " + e.getMessage(), e);
            }
        }
        return List.copyOf(holes);
    }

    private static int parseInt(String text, String what) {
        try {
            return Integer.parseInt(text.trim());
        } catch (NumberFormatException e) {
            throw new IllegalArgumentException(what + " is not a whole number: \"" + text + "\"", e);
        }
    }

    private static double parseDouble(String text, String what) {
        try {
            return Double.parseDouble(text.trim());
        } catch (NumberFormatException e) {
            throw new IllegalArgumentException(what + ": not a number: \"" + text + "\"", e);
        }
    }

    @Override
    public String toString() {
        return "DeltaTraceFormat";
    }
}
