package jtrazelo.dcs;

import java.util.List;
import java.util.Objects;
import java.util.Optional;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * A {@code DRILLE} record: a hole, or with an end point a slot, drilled through the lens.
 *
 * <p>Fields in order: side ({@code R}, {@code L}, {@code B}, or {@code ?} when the file does not
 * say); reference; start x; start y;
 * diameter; then optionally end x, end y, depth, feature type, angle mode ({@code B}, {@code F},
 * {@code A}), lateral angle, vertical angle ({@link #more()}, kept as written). Positions are in mm,
 * x towards 3 o'clock and y up as seen from the front ({@link FrameTrace} states the conventions).
 * The reference says where they are measured from: {@code C} the box centre; {@code E} the lens
 * edge or {@code B} the box, each with {@code N} nasal or {@code T} temporal; {@code R} relative;
 * optionally followed by {@code F} front or {@code R} rear mounting (C, CF, CR, EN, ENF, ENR, ET,
 * ETF, ETR, BN, BNF, BNR, BT, BTF, BTR, R). A hole for side {@code B} is given for the right lens;
 * the left lens has its mirror image (x to -x). A record of unknown side or reference is kept but
 * placed on no lens.
 *
 * @param side {@code R}, {@code L} or {@code B}, or {@code ?} when unknown
 * @param reference the reference code (not empty; {@code ?} when unknown)
 * @param x the start point's x, mm, or NaN when unknown ({@code ?})
 * @param y the start point's y, mm, or NaN when unknown
 * @param diameter the diameter, mm, positive, or NaN when unknown
 * @param more the fields after the diameter, as written (copied; the last is not empty)
 */
public record DcsHole(String side, String reference, double x, double y, double diameter,
        List<String> more) {
    /**
     * Checks the fields.
     *
     * @param side {@code R}, {@code L}, {@code B} or {@code ?}
     * @param reference the reference code
     * @param x the start point's x, mm, or NaN
     * @param y the start point's y, mm, or NaN
     * @param diameter the diameter, mm, positive, or NaN
     * @param more the further fields
     * @throws IllegalArgumentException when a field does not fit the class description
     */
    public DcsHole {
        Objects.requireNonNull(side, "side");
        if (!side.equals("R") && !side.equals("L") && !side.equals("B") && !side.equals("?")) {
            throw new IllegalArgumentException("side must be R, L, B or ?: " + side);
        }
        if (Objects.requireNonNull(reference, "reference").isEmpty() || !DcsRecord.isValueText(reference)) {
            throw new IllegalArgumentException("bad reference: \"" + reference + "\"");
        }
        if (Double.isInfinite(x) || Double.isInfinite(y) || Double.isInfinite(diameter)) {
            throw new IllegalArgumentException("a position or diameter is infinite");
        }
        if (diameter <= 0) {
            throw new IllegalArgumentException("the diameter must be positive: " + diameter);
        }
        // -0.0 and 0.0 are the same position (and both are written 0.00).
        x += 0.0;
        y += 0.0;
        more = List.copyOf(more);
        for (String field : more) {
            if (!DcsRecord.isValueText(field)) {
                throw new IllegalArgumentException("bad field: \"" + field + "\"");
            }
        }
        if (!more.isEmpty() && more.get(more.size() - 1).isEmpty()) {
            throw new IllegalArgumentException("the last field is empty");
        }
    }

    /**
     * A round hole for one eye, about the box centre (reference {@code C}).
     *
     * @param eye the eye
     * @param hole the hole
     * @return the drill record
     */
    public static DcsHole centred(Eye eye, DrillHole hole) {
        return new DcsHole(String.valueOf(eye.letter()), "C", hole.x(), hole.y(), hole.diameter(),
                List.of());
    }

    /**
     * Returns true when the hole is for an eye: its side, or {@code B}.
     *
     * @param eye the eye
     * @return true when it is for that eye
     */
    public boolean isFor(Eye eye) {
        return side.equals("B") || side.charAt(0) == eye.letter();
    }

    /** {@return true when the position is about the box centre (reference C, CF or CR)} */
    public boolean isCentred() {
        return reference.equals("C") || reference.equals("CF") || reference.equals("CR");
    }

    /**
     * Returns the hole as the tracer API gives it, for {@code eye}: when the hole is for that eye,
     * measured from the box centre, with known position and diameter; the left eye's of a side
     * {@code B} hole is mirrored. A slot gives its start point.
     *
     * @param eye the eye
     * @return the hole, or empty
     */
    public Optional<DrillHole> at(Eye eye) {
        if (!isFor(eye) || !isCentred() || Double.isNaN(x) || Double.isNaN(y) || Double.isNaN(diameter)) {
            return Optional.empty();
        }
        DrillHole hole = new DrillHole(x, y, diameter);
        return Optional.of(side.equals("B") && eye == Eye.LEFT ? hole.mirrored() : hole);
    }
}
