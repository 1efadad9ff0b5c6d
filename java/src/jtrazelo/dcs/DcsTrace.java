package jtrazelo.dcs;

import java.util.Arrays;
import java.util.EnumSet;
import java.util.List;
import java.util.Locale;
import java.util.Objects;
import java.util.Optional;
import java.util.Set;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * One trace of a DCS file: its {@code TRCFMT=format;count;angles;side;type} record and its data.
 * Immutable.
 *
 * <p>Format 1 (ASCII, absolute) is decoded: {@link #radii()} are the {@code R} records' radii in
 * 1/100 mm, and for unequal angles ({@code U}) {@link #angles()} the {@code A} records' angles in
 * 1/100 degree. Angles follow {@link FrameTrace}'s conventions: seen from the front, counter-clockwise
 * from 3 o'clock about the box centre; with {@code E} point i lies at {@code 360 * i / N} degrees. A
 * radius of zero or less, or {@link #UNKNOWN} ({@code ?} in the file), marks a point the tracer
 * could not measure. Other formats (2 binary absolute, 3 differential, 4 packed, vendor numbers) are
 * not decoded: their data lines are kept exactly as read ({@link #rawLines()}) and written back.
 *
 * <p>Side {@code B} is one trace for both eyes: it is given for the right lens, and the left lens is
 * its mirror image about the vertical axis. Type is {@code F} frame, {@code P} pattern, {@code D}
 * demo lens (or what the file says). Records of labels this program does not interpret that follow
 * a trace ({@code ZFMT} and {@code Z}, vendor records) belong to it ({@link #records()}).
 */
public final class DcsTrace {
    /** A radius the file gives as {@code ?}. */
    public static final int UNKNOWN = Integer.MIN_VALUE;
    /** Largest point count a TRCFMT record may announce. */
    public static final int MAX_POINTS = 999_999;
    /** Largest magnitude of a whole number in a record: nine digits. */
    static final int MAX_NUMBER = 999_999_999;

    private final int format;
    private final int count;
    private final String angleMode;
    private final String side;
    private final String type;
    private final List<String> extraFields;
    private final int[] radii;
    private final int[] angles;
    private final List<String> rawLines;
    private final List<DcsRecord> records;

    /**
     * Makes a trace; the factories below are shorter for the usual cases.
     *
     * @param format the format, 1 or more; only 1 is decoded
     * @param count the number of points, 1 to {@link #MAX_POINTS}; for format 1 the number of radii
     * @param angleMode {@code E} or {@code U} for format 1; for other formats as the file says
     * @param side {@code R}, {@code L} or {@code B}
     * @param type the trace type, usually {@code F}, {@code P} or {@code D} (may be empty)
     * @param extraFields TRCFMT fields after the type (copied)
     * @param radii format 1: the radii, 1/100 mm, {@code count} of them (copied); otherwise empty
     * @param angles format 1 with {@code U}: the angles, 1/100 degree, {@code count} of them
     *     (copied); otherwise empty
     * @param rawLines other formats: the data lines as read (copied); format 1: empty
     * @param records records of uninterpreted labels that follow the trace (copied); none for a
     *     trace not decoded, whose following lines are all its data
     */
    public DcsTrace(int format, int count, String angleMode, String side, String type,
            List<String> extraFields, int[] radii, int[] angles, List<String> rawLines,
            List<DcsRecord> records) {
        this.format = format;
        this.count = count;
        this.angleMode = Objects.requireNonNull(angleMode, "angleMode");
        this.side = Objects.requireNonNull(side, "side");
        this.type = Objects.requireNonNull(type, "type");
        this.extraFields = List.copyOf(extraFields);
        this.radii = radii.clone();
        this.angles = angles.clone();
        this.rawLines = List.copyOf(rawLines);
        this.records = List.copyOf(records);
        String why = problem();
        if (why != null) {
            throw new IllegalArgumentException(why);
        }
    }

    private String problem() {
        if (format < 1 || format > MAX_NUMBER) {
            return "format must be 1 to " + MAX_NUMBER + ": " + format;
        }
        if (count < 1 || count > MAX_POINTS) {
            return "point count must be 1 to " + MAX_POINTS + ": " + count;
        }
        if (!side.equals("R") && !side.equals("L") && !side.equals("B")) {
            return "side must be R, L or B: " + side;
        }
        for (String field : concat(List.of(angleMode, type), extraFields)) {
            if (!DcsRecord.isValueText(field)) {
                return "a TRCFMT field holds ';' or a character that is not printable: " + field;
            }
        }
        if (!extraFields.isEmpty() && extraFields.get(extraFields.size() - 1).isEmpty()) {
            return "the last TRCFMT field is empty";
        }
        if (format == 1) {
            if (!angleMode.equals("E") && !angleMode.equals("U")) {
                return "format 1 needs angles E or U: " + angleMode;
            }
            if (radii.length != count) {
                return count + " points but " + radii.length + " radii";
            }
            if (angles.length != (angleMode.equals("U") ? count : 0)) {
                return count + " points, angles " + angleMode + ", but " + angles.length + " angles";
            }
            if (!rawLines.isEmpty()) {
                return "format 1 is decoded: no raw lines";
            }
            for (int[] values : new int[][] {radii, angles}) {
                for (int value : values) {
                    if (value != UNKNOWN && Math.abs(value) > MAX_NUMBER) {
                        return "a radius or angle has more than 9 digits: " + value;
                    }
                }
            }
            for (int angle : angles) {
                if (angle == UNKNOWN) {
                    return "an angle is unknown";
                }
            }
        } else {
            if (radii.length != 0 || angles.length != 0 || !records.isEmpty()) {
                return "format " + format + " is not decoded: no radii, angles or records";
            }
            for (String line : rawLines) {
                if (line.isBlank() || !DcsRecord.isLine(line) || DcsParser.endsRawData(line)) {
                    return "a raw line is blank, holds a line end or starts an interpreted record: "
                            + DcsRecord.printable(line);
                }
            }
        }
        return null;
    }

    private static List<String> concat(List<String> a, List<String> b) {
        return java.util.stream.Stream.concat(a.stream(), b.stream()).toList();
    }

    /**
     * An ASCII trace at equally spaced angles.
     *
     * @param side {@code R}, {@code L} or {@code B}
     * @param type the trace type
     * @param radii the radii, 1/100 mm
     * @return the trace
     */
    public static DcsTrace equallySpaced(String side, String type, int[] radii) {
        return new DcsTrace(1, radii.length, "E", side, type, List.of(), radii, new int[0], List.of(),
                List.of());
    }

    /**
     * An ASCII trace at unequal angles.
     *
     * @param side {@code R}, {@code L} or {@code B}
     * @param type the trace type
     * @param radii the radii, 1/100 mm
     * @param angles the angles of the points, 1/100 degree
     * @return the trace
     */
    public static DcsTrace unequallySpaced(String side, String type, int[] radii, int[] angles) {
        return new DcsTrace(1, radii.length, "U", side, type, List.of(), radii, angles, List.of(),
                List.of());
    }

    /** {@return the format: 1 ASCII; 2, 3, 4 binary; higher numbers are vendors'} */
    public int format() {
        return format;
    }

    /** {@return the number of points the TRCFMT record announces} */
    public int count() {
        return count;
    }

    /** {@return the angle mode: {@code E} equally spaced, {@code U} unequal} */
    public String angleMode() {
        return angleMode;
    }

    /** {@return the side: {@code R}, {@code L} or {@code B}} */
    public String side() {
        return side;
    }

    /** {@return the eyes the trace is for: one, or both for side {@code B}} */
    public Set<Eye> eyes() {
        return side.equals("B") ? EnumSet.allOf(Eye.class) : EnumSet.of(Eye.fromLetter(side.charAt(0)));
    }

    /** {@return the trace type: {@code F} frame, {@code P} pattern, {@code D} demo lens, or other} */
    public String type() {
        return type;
    }

    /** {@return the TRCFMT fields after the type} */
    public List<String> extraFields() {
        return extraFields;
    }

    /** {@return true when the data are decoded (format 1)} */
    public boolean isDecoded() {
        return format == 1;
    }

    /** {@return why the data are not decoded ("format 4, not decoded"), or empty when they are} */
    public Optional<String> note() {
        return isDecoded() ? Optional.empty() : Optional.of("format " + format + ", not decoded");
    }

    /** {@return a copy of the radii, 1/100 mm ({@link #UNKNOWN} for {@code ?}); empty when not decoded} */
    public int[] radii() {
        return radii.clone();
    }

    /** {@return a copy of the angles, 1/100 degree, for {@code U}; empty otherwise} */
    public int[] angles() {
        return angles.clone();
    }

    /**
     * Returns true when a point was measured: its radius is known and positive.
     *
     * @param i the point
     * @return true when measured
     */
    public boolean isMeasured(int i) {
        return radii[i] > 0;
    }

    /**
     * Returns the radius of a point in mm.
     *
     * @param i the point
     * @return the radius, or NaN for a point not measured
     */
    public double radiusMm(int i) {
        return isMeasured(i) ? radii[i] / 100.0 : Double.NaN;
    }

    /**
     * Returns the angle of a point in degrees (see the class description).
     *
     * @param i the point
     * @return the angle
     */
    public double angleDegrees(int i) {
        Objects.checkIndex(i, radii.length);
        return angleMode.equals("U") ? angles[i] / 100.0 : 360.0 * i / count;
    }

    /** {@return the data lines of a trace not decoded, as read} */
    public List<String> rawLines() {
        return rawLines;
    }

    /** {@return the records of uninterpreted labels that follow the trace} */
    public List<DcsRecord> records() {
        return records;
    }

    /**
     * Returns this trace followed by other records.
     *
     * @param records the records of uninterpreted labels after it, instead of its own
     * @return the trace
     */
    public DcsTrace withRecords(List<DcsRecord> records) {
        return new DcsTrace(format, count, angleMode, side, type, extraFields, radii, angles, rawLines,
                records);
    }

    /** {@return the TRCFMT record's value} */
    String formatValue() {
        StringBuilder value = new StringBuilder();
        value.append(format).append(';').append(count).append(';').append(angleMode).append(';')
                .append(side).append(';').append(type);
        for (String field : extraFields) {
            value.append(';').append(field);
        }
        return value.toString();
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof DcsTrace t
                && format == t.format
                && count == t.count
                && angleMode.equals(t.angleMode)
                && side.equals(t.side)
                && type.equals(t.type)
                && extraFields.equals(t.extraFields)
                && Arrays.equals(radii, t.radii)
                && Arrays.equals(angles, t.angles)
                && rawLines.equals(t.rawLines)
                && records.equals(t.records);
    }

    @Override
    public int hashCode() {
        return Objects.hash(format, count, angleMode, side, type, extraFields, Arrays.hashCode(radii),
                Arrays.hashCode(angles), rawLines, records);
    }

    @Override
    public String toString() {
        return String.format(Locale.ROOT, "DcsTrace[TRCFMT=%s%s%s]", formatValue(),
                note().map(n -> ", " + n).orElse(""),
                records.isEmpty() ? "" : ", " + records.size() + " records");
    }
}
