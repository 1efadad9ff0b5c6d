package jtrazelo.dcs;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.EnumMap;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.Optional;
import java.util.OptionalInt;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * A DCS ("OMA") job: what {@link DcsParser} reads from a file and {@link DcsWriter} writes. Immutable;
 * {@link #builder()} makes one, {@link DcsJob} makes one from traces.
 *
 * <p>The document interprets the job name ({@code JOB}), device and vendor ({@code DEV},
 * {@code VEN}), frame and edge type ({@code FTYP}, {@code ETYP}), the traces ({@code TRCFMT} with
 * {@code R} and {@code A}), the figures of each eye ({@code HBOX}, {@code VBOX}, {@code CIRC},
 * {@code FCRV}), the distance between lenses ({@code DBL}) and the drill records ({@code DRILLE}).
 * Every other record is kept as it was read, in order, and written back where it stood: those
 * before the first interpreted record ({@link #header()}, where requests such as {@code REQ} and
 * {@code OMAV} usually stand), those that follow a trace (with the trace,
 * {@link DcsTrace#records()}) and the others after the interpreted record they followed
 * ({@link #recordsAfter(String)}). {@link DcsWriter} writes the interpreted records in an order of
 * its own ({@link #LABELS}): a kept record follows the same interpreted record when written, and
 * keeps its place among the kept records when the file had that order too. A value the file gives
 * as {@code ?} or leaves empty is unknown: NaN, or absent. Coordinates follow {@link FrameTrace}'s
 * conventions (seen from the front).
 *
 * <p>A record of the right and the left eye with one value gives both eyes that value. An
 * interpreted record read with another number of values than {@link DcsWriter} writes for what it
 * says (one value where the writer writes two, two equal ones where it writes one, values beyond
 * the record's fields, a drill record short of fields) is kept as read ({@link #asRead(String)},
 * {@link #holeAsRead(int)}) and written back so, until the builder is given new values for it.
 */
public final class DcsDocument {
    /**
     * The interpreted labels after which kept records can stand, in the order {@link DcsWriter}
     * writes them; the traces come between {@code ETYP} and {@code HBOX}.
     */
    public static final List<String> LABELS =
            List.of("JOB", "DEV", "VEN", "FTYP", "ETYP", "HBOX", "VBOX", "CIRC", "FCRV", "DBL", "DRILLE");

    /** The figures recorded per eye, each a {@code right;left} record of that label. */
    public enum Figure {
        /** Box width, mm. */
        HBOX,
        /** Box height, mm. */
        VBOX,
        /** Circumference (perimeter) of the outline, mm. */
        CIRC,
        /** Frame curve, dioptres. */
        FCRV
    }

    private final String job;
    private final String device;
    private final String vendor;
    private final Integer frameType;
    private final Map<Eye, Integer> edgeTypes;
    private final Map<Figure, double[]> figures;
    private final double dbl;
    private final List<DcsTrace> traces;
    private final List<DcsHole> holes;
    private final List<DcsRecord> header;
    /** Kept records by the label they follow (of {@link #LABELS}, each written). */
    private final Map<String, List<DcsRecord>> after;
    /** Interpreted records kept as read, by label (of {@link #LABELS} but DRILLE): their values. */
    private final Map<String, String> asRead;
    /** Per drill record, its values as read, or null: written in the writer's layout. */
    private final List<String> holesAsRead;

    private DcsDocument(Builder b) {
        job = text("job", b.job);
        device = text("device", b.device);
        vendor = text("vendor", b.vendor);
        frameType = whole("frame type", b.frameType);
        EnumMap<Eye, Integer> edges = new EnumMap<>(Eye.class);
        for (Map.Entry<Eye, Integer> entry : b.edgeTypes.entrySet()) {
            if (entry.getValue() != null) {
                edges.put(entry.getKey(), whole("edge type", entry.getValue()));
            }
        }
        edgeTypes = Collections.unmodifiableMap(edges);
        EnumMap<Figure, double[]> copy = new EnumMap<>(Figure.class);
        for (Figure figure : Figure.values()) {
            double[] values = b.figures.getOrDefault(figure, new double[] {Double.NaN, Double.NaN});
            copy.put(figure, new double[] {finite(figure.name(), values[0]), finite(figure.name(), values[1])});
        }
        figures = copy;
        dbl = finite("DBL", b.dbl);
        traces = List.copyOf(b.traces);
        Map<String, Integer> seen = new HashMap<>();
        for (DcsTrace trace : traces) {
            if (seen.put(trace.side() + ";" + trace.type(), 1) != null) {
                throw new IllegalArgumentException("two traces for side " + trace.side() + " of type "
                        + trace.type());
            }
        }
        holes = List.copyOf(b.holes);
        holesAsRead = Collections.unmodifiableList(new ArrayList<>(b.holesAsRead));
        // A record kept as read stays when it is written anyway or holds a value: one of unknowns
        // alone is no more written than its values would be.
        Map<String, String> kept = new HashMap<>();
        b.asRead.forEach((label, value) -> {
            if (isWrittenForValues(label) || DcsParser.holdsValue(value)) {
                kept.put(label, value);
            }
        });
        asRead = Collections.unmodifiableMap(kept);
        // Records after a label that is not written follow the last written label before it, or
        // stand with the header: that is where a reader finds them in the written file.
        List<DcsRecord> first = new ArrayList<>(b.header);
        Map<String, List<DcsRecord>> placed = new HashMap<>();
        String place = null;
        for (String label : LABELS) {
            if (isWritten(label)) {
                place = label;
            }
            List<DcsRecord> records = b.after.getOrDefault(label, List.of());
            if (!records.isEmpty()) {
                (place == null ? first : placed.computeIfAbsent(place, l -> new ArrayList<>())).addAll(records);
            }
        }
        header = List.copyOf(first);
        placed.replaceAll((label, records) -> List.copyOf(records));
        after = Collections.unmodifiableMap(placed);
    }

    private static String text(String what, String value) {
        if (value != null && (value.isEmpty() || value.equals("?") || !DcsRecord.isValueText(value))) {
            throw new IllegalArgumentException(what + " must be printable text without ';', not empty or"
                    + " \"?\": \"" + DcsRecord.printable(value) + "\"");
        }
        return value;
    }

    private static Integer whole(String what, Integer value) {
        if (value != null && Math.abs((long) value) > DcsTrace.MAX_NUMBER) {
            throw new IllegalArgumentException(what + " has more than 9 digits: " + value);
        }
        return value;
    }

    private static double finite(String what, double value) {
        if (Double.isInfinite(value)) {
            throw new IllegalArgumentException(what + " is infinite");
        }
        return value + 0.0;  // -0.0 is written 0.00
    }

    /** {@return an empty builder} */
    public static Builder builder() {
        return new Builder();
    }

    /** {@return a builder holding this document} */
    public Builder toBuilder() {
        Builder b = new Builder().job(job).device(device).vendor(vendor).frameType(frameType)
                .dbl(dbl).traces(traces).header(header);
        for (int i = 0; i < holes.size(); i++) {
            b.addHole(holes.get(i), holesAsRead.get(i));
        }
        after.forEach(b::recordsAfter);
        edgeTypes.forEach(b::edgeType);
        figures.forEach((figure, values) -> {
            b.figure(figure, Eye.RIGHT, values[0]);
            b.figure(figure, Eye.LEFT, values[1]);
        });
        b.asRead.putAll(asRead);
        return b;
    }

    /**
     * Makes the job of one traced eye: that eye as measured and the other as its mirror image, with
     * device and vendor named {@code device}; see {@link DcsJob} for the rest.
     *
     * @param trace the trace
     * @param job the job name
     * @param device the device name, or null
     * @return the document
     */
    public static DcsDocument fromTrace(FrameTrace trace, String job, String device) {
        return DcsJob.named(job).device(device).vendor(device).document(trace);
    }

    /** {@return the job name, if the document has one} */
    public Optional<String> job() {
        return Optional.ofNullable(job);
    }

    /** {@return the device name, if the document has one} */
    public Optional<String> device() {
        return Optional.ofNullable(device);
    }

    /** {@return the vendor name, if the document has one} */
    public Optional<String> vendor() {
        return Optional.ofNullable(vendor);
    }

    /** {@return the frame type code ({@link FrameType}), if the document has one} */
    public OptionalInt frameType() {
        return frameType == null ? OptionalInt.empty() : OptionalInt.of(frameType);
    }

    /**
     * Returns the edge type code of an eye ({@link EdgeType}).
     *
     * @param eye the eye
     * @return the code, if the document has one
     */
    public OptionalInt edgeType(Eye eye) {
        Integer code = edgeTypes.get(eye);
        return code == null ? OptionalInt.empty() : OptionalInt.of(code);
    }

    /**
     * Returns a figure of an eye.
     *
     * @param figure the figure
     * @param eye the eye
     * @return the figure, or NaN when unknown
     */
    public double figure(Figure figure, Eye eye) {
        return figures.get(figure)[eye == Eye.RIGHT ? 0 : 1];
    }

    /** {@return the distance between lenses, mm, or NaN when unknown} */
    public double dbl() {
        return dbl;
    }

    /** {@return the traces in file order} */
    public List<DcsTrace> traces() {
        return traces;
    }

    /** {@return the drill records in file order} */
    public List<DcsHole> holes() {
        return holes;
    }

    /**
     * Returns an interpreted record's values as the file gave them, when the document keeps them:
     * read with another number of values than {@link DcsWriter} writes for what the record says
     * (see the class description). {@link DcsWriter} writes them back in place of its own.
     *
     * @param label the record's label, one of {@link #LABELS} but {@code DRILLE}
     * @return everything after the record's '=', or empty when the record is written from its
     *     values
     */
    public Optional<String> asRead(String label) {
        return Optional.ofNullable(asRead.get(label));
    }

    /**
     * Returns a drill record's values as the file gave them, when the document keeps them: read
     * with fewer fields than the layout's five.
     *
     * @param index the drill record's index in {@link #holes()}
     * @return everything after the record's '=', or empty when the record is written from its
     *     values
     * @throws IndexOutOfBoundsException when there is no such drill record
     */
    public Optional<String> holeAsRead(int index) {
        return Optional.ofNullable(holesAsRead.get(index));
    }

    /** {@return the uninterpreted records before the first interpreted one, in order} */
    public List<DcsRecord> header() {
        return header;
    }

    /**
     * Returns the kept records that follow an interpreted record.
     *
     * @param label the interpreted record's label, one of {@link #LABELS}
     * @return the records, in order; none when {@code label} is not written
     */
    public List<DcsRecord> recordsAfter(String label) {
        return after.getOrDefault(label, List.of());
    }

    /** {@return the kept records that follow an interpreted record but no trace, in written order} */
    public List<DcsRecord> records() {
        List<DcsRecord> all = new ArrayList<>();
        LABELS.forEach(label -> all.addAll(recordsAfter(label)));
        return List.copyOf(all);
    }

    /** {@return what the document holds but could not interpret, such as a trace not decoded} */
    public List<String> notes() {
        return traces.stream().filter(t -> !t.isDecoded())
                .map(t -> "TRCFMT=" + t.formatValue() + ": " + t.note().orElseThrow()).toList();
    }

    /**
     * Returns true when the document holds nothing: {@link DcsWriter} writes it as an empty file,
     * which {@link DcsParser} refuses.
     *
     * @return true when empty
     */
    public boolean isEmpty() {
        return !hasInterpreted() && header.isEmpty() && after.isEmpty();
    }

    /**
     * Returns true when the document holds a record that {@link DcsWriter} writes as interpreted.
     */
    boolean hasInterpreted() {
        return !traces.isEmpty() || LABELS.stream().anyMatch(this::isWritten);
    }

    /**
     * Returns true when {@link DcsWriter} writes a record of {@code label} (of {@link #LABELS}):
     * names and codes when known, figures and DBL when known or when the document has a trace,
     * drill records when there are some.
     */
    boolean isWritten(String label) {
        return isWrittenForValues(label) || asRead.containsKey(label);
    }

    /** Returns true when the values of {@code label}'s record are written, as {@link #isWritten} says. */
    private boolean isWrittenForValues(String label) {
        return switch (label) {
            case "JOB" -> job != null;
            case "DEV" -> device != null;
            case "VEN" -> vendor != null;
            case "FTYP" -> frameType != null;
            case "ETYP" -> !edgeTypes.isEmpty();
            case "DBL" -> !traces.isEmpty() || !Double.isNaN(dbl);
            case "DRILLE" -> !holes.isEmpty();
            default -> {
                double[] values = figures.get(Figure.valueOf(label));
                yield !traces.isEmpty() || !Double.isNaN(values[0]) || !Double.isNaN(values[1]);
            }
        };
    }

    /**
     * Returns how many values {@link DcsWriter} writes in a record of {@code label} when it writes
     * it from its values: one for a name, a code or DBL; for the edge types one when both eyes
     * have the same (or none), else two; two for a figure, right;left.
     */
    static int writtenValueCount(String label, Integer rightEdge, Integer leftEdge) {
        return switch (label) {
            case "ETYP" -> Objects.equals(rightEdge, leftEdge) ? 1 : 2;
            case "HBOX", "VBOX", "CIRC", "FCRV" -> 2;
            default -> 1;
        };
    }

    /**
     * Returns what the document says about {@code eye}, when a decoded trace is for it. The trace
     * is the first of these: a frame trace ({@code F}) of the eye's side, a frame trace for both
     * eyes ({@code B}), any trace of the eye's side, any trace for both eyes.
     *
     * @param eye the eye
     * @return what the document says about it, or empty
     */
    public Optional<DcsSide> side(Eye eye) {
        String letter = String.valueOf(eye.letter());
        DcsTrace chosen = null;
        search:
        for (boolean frameOnly : new boolean[] {true, false}) {
            for (String side : new String[] {letter, "B"}) {
                for (DcsTrace trace : traces) {
                    if (trace.isDecoded() && trace.side().equals(side)
                            && (!frameOnly || trace.type().equals("F"))) {
                        chosen = trace;
                        break search;
                    }
                }
            }
        }
        if (chosen == null) {
            return Optional.empty();
        }
        List<DrillHole> drillHoles = holes.stream().map(h -> h.at(eye)).flatMap(Optional::stream).toList();
        return Optional.of(new DcsSide(eye, chosen, chosen.side().equals("B") && eye == Eye.LEFT,
                figure(Figure.HBOX, eye), figure(Figure.VBOX, eye), figure(Figure.CIRC, eye),
                figure(Figure.FCRV, eye), drillHoles));
    }

    /** {@return the sides that {@link #side(Eye)} finds, right first} */
    public Map<Eye, DcsSide> sides() {
        EnumMap<Eye, DcsSide> sides = new EnumMap<>(Eye.class);
        for (Eye eye : Eye.values()) {
            side(eye).ifPresent(s -> sides.put(eye, s));
        }
        return Collections.unmodifiableMap(sides);
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof DcsDocument d)) {
            return false;
        }
        for (Figure figure : Figure.values()) {
            if (!Arrays.equals(figures.get(figure), d.figures.get(figure))) {
                return false;
            }
        }
        return Objects.equals(job, d.job)
                && Objects.equals(device, d.device)
                && Objects.equals(vendor, d.vendor)
                && Objects.equals(frameType, d.frameType)
                && edgeTypes.equals(d.edgeTypes)
                && Double.compare(dbl, d.dbl) == 0
                && traces.equals(d.traces)
                && holes.equals(d.holes)
                && header.equals(d.header)
                && after.equals(d.after)
                && asRead.equals(d.asRead)
                && holesAsRead.equals(d.holesAsRead);
    }

    @Override
    public int hashCode() {
        int hash = Objects.hash(job, device, vendor, frameType, edgeTypes, dbl, traces, holes, header, after, asRead,
                holesAsRead);
        for (double[] values : figures.values()) {
            hash = 31 * hash + Arrays.hashCode(values);
        }
        return hash;
    }

    @Override
    public String toString() {
        return "DcsDocument[JOB " + job + ", " + traces.size() + " traces, " + holes.size() + " holes, DBL "
                + dbl + ", " + (header.size() + records().size()) + " other records]";
    }

    /** Collects a document; {@link #build()} checks it. */
    public static final class Builder {
        private String job;
        private String device;
        private String vendor;
        private Integer frameType;
        private final Map<Eye, Integer> edgeTypes = new EnumMap<>(Eye.class);
        private final Map<Figure, double[]> figures = new EnumMap<>(Figure.class);
        private double dbl = Double.NaN;
        private final List<DcsTrace> traces = new ArrayList<>();
        private final List<DcsHole> holes = new ArrayList<>();
        private final List<String> holesAsRead = new ArrayList<>();
        private final Map<String, String> asRead = new HashMap<>();
        private final List<DcsRecord> header = new ArrayList<>();
        private final Map<String, List<DcsRecord>> after = new HashMap<>();

        private Builder() {}

        /**
         * Sets the job name.
         *
         * @param value the job name, or null for none
         * @return this builder
         */
        public Builder job(String value) {
            asRead.remove("JOB");
            job = value;
            return this;
        }

        /**
         * Sets the device name.
         *
         * @param value the device name, or null for none
         * @return this builder
         */
        public Builder device(String value) {
            asRead.remove("DEV");
            device = value;
            return this;
        }

        /**
         * Sets the vendor name.
         *
         * @param value the vendor name, or null for none
         * @return this builder
         */
        public Builder vendor(String value) {
            asRead.remove("VEN");
            vendor = value;
            return this;
        }

        /**
         * Sets the frame type code.
         *
         * @param code the code, or null for none
         * @return this builder
         */
        public Builder frameType(Integer code) {
            asRead.remove("FTYP");
            frameType = code;
            return this;
        }

        /**
         * Sets the edge type code of one eye.
         *
         * @param eye the eye
         * @param code the code, or null for none
         * @return this builder
         */
        public Builder edgeType(Eye eye, Integer code) {
            asRead.remove("ETYP");
            edgeTypes.put(Objects.requireNonNull(eye, "eye"), code);
            return this;
        }

        /**
         * Sets a figure of one eye.
         *
         * @param figure the figure
         * @param eye the eye
         * @param value its value, or NaN when unknown
         * @return this builder
         */
        public Builder figure(Figure figure, Eye eye, double value) {
            asRead.remove(figure.name());
            figures.computeIfAbsent(figure, f -> new double[] {Double.NaN, Double.NaN})[eye == Eye.RIGHT ? 0 : 1] =
                    value;
            return this;
        }

        /**
         * Sets the distance between lenses.
         *
         * @param value the distance, mm, or NaN when unknown
         * @return this builder
         */
        public Builder dbl(double value) {
            asRead.remove("DBL");
            dbl = value;
            return this;
        }

        /**
         * Adds a trace.
         *
         * @param trace the trace
         * @return this builder
         */
        public Builder addTrace(DcsTrace trace) {
            traces.add(Objects.requireNonNull(trace, "trace"));
            return this;
        }

        /**
         * Replaces the traces.
         *
         * @param values the traces, in file order
         * @return this builder
         */
        public Builder traces(List<DcsTrace> values) {
            traces.clear();
            values.forEach(this::addTrace);
            return this;
        }

        /**
         * Adds a drill record.
         *
         * @param hole the drill record
         * @return this builder
         */
        public Builder addHole(DcsHole hole) {
            return addHole(hole, null);
        }

        /** Adds a drill record read from {@code value} with fewer fields than the writer's (or null). */
        Builder addHole(DcsHole hole, String value) {
            holes.add(Objects.requireNonNull(hole, "hole"));
            holesAsRead.add(value);
            return this;
        }

        /**
         * Replaces the drill records.
         *
         * @param values the drill records, in file order
         * @return this builder
         */
        public Builder holes(List<DcsHole> values) {
            holes.clear();
            holesAsRead.clear();
            values.forEach(this::addHole);
            return this;
        }

        /**
         * Keeps an interpreted record's values as read, to be written back so; the record's values
         * are set before.
         */
        Builder asRead(String label, String value) {
            asRead.put(label, value);
            return this;
        }

        /** {@return how many values the writer writes for {@code label} from what is set now} */
        int writtenValueCount(String label) {
            return DcsDocument.writtenValueCount(label, edgeTypes.get(Eye.RIGHT), edgeTypes.get(Eye.LEFT));
        }

        /**
         * Replaces the uninterpreted records written first.
         *
         * @param values the records, in order
         * @return this builder
         */
        public Builder header(List<DcsRecord> values) {
            header.clear();
            header.addAll(values);
            return this;
        }

        /**
         * Replaces the uninterpreted records that follow an interpreted record.
         *
         * @param label the interpreted record's label, one of {@link DcsDocument#LABELS}; when the
         *     document has no such record, the records follow the one written before
         * @param values the records, in order
         * @return this builder
         */
        public Builder recordsAfter(String label, List<DcsRecord> values) {
            if (!LABELS.contains(label)) {
                throw new IllegalArgumentException("not one of " + LABELS + ": " + label);
            }
            after.put(label, List.copyOf(values));
            return this;
        }

        /**
         * Replaces the uninterpreted records written last, after the drill records.
         *
         * @param values the records, in order
         * @return this builder
         */
        public Builder records(List<DcsRecord> values) {
            return recordsAfter("DRILLE", values);
        }

        /**
         * Returns the document.
         *
         * @return the document
         * @throws IllegalArgumentException when a text is empty, {@code ?} or not printable
         *     without ';', a code has more than 9 digits, a figure is infinite, or two traces share
         *     side and type
         */
        public DcsDocument build() {
            return new DcsDocument(this);
        }
    }
}
