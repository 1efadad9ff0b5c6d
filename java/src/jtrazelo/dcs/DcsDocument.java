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
 * Every other record is kept as it was read, in order: those before the first interpreted record
 * ({@link #header()}, where requests such as {@code REQ} and {@code OMAV} usually stand), those that
 * follow a trace (with the trace, {@link DcsTrace#records()}) and the rest ({@link #records()}). A
 * value the file gives as {@code ?} or leaves empty is unknown: NaN, or absent. Coordinates follow
 * {@link FrameTrace}'s conventions (seen from the front).
 */
public final class DcsDocument {
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
    private final List<DcsRecord> records;

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
        List<DcsRecord> first = new ArrayList<>(b.header);
        List<DcsRecord> rest = List.copyOf(b.records);
        if (!hasInterpreted()) {
            // Without an interpreted record between them, the two lists read back as one.
            first.addAll(rest);
            rest = List.of();
        }
        header = List.copyOf(first);
        records = rest;
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
                .dbl(dbl).traces(traces).holes(holes).header(header).records(records);
        edgeTypes.forEach(b::edgeType);
        figures.forEach((figure, values) -> {
            b.figure(figure, Eye.RIGHT, values[0]);
            b.figure(figure, Eye.LEFT, values[1]);
        });
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

    /** {@return the uninterpreted records before the first interpreted one, in order} */
    public List<DcsRecord> header() {
        return header;
    }

    /** {@return the other uninterpreted records that follow no trace, in order} */
    public List<DcsRecord> records() {
        return records;
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
        return !hasInterpreted() && header.isEmpty() && records.isEmpty();
    }

    /**
     * Returns true when the document holds a record that {@link DcsWriter} writes as interpreted.
     */
    boolean hasInterpreted() {
        if (job != null || device != null || vendor != null || frameType != null || !edgeTypes.isEmpty()
                || !Double.isNaN(dbl) || !traces.isEmpty() || !holes.isEmpty()) {
            return true;
        }
        return figures.values().stream().anyMatch(v -> !Double.isNaN(v[0]) || !Double.isNaN(v[1]));
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
                && records.equals(d.records);
    }

    @Override
    public int hashCode() {
        int hash = Objects.hash(job, device, vendor, frameType, edgeTypes, dbl, traces, holes, header, records);
        for (double[] values : figures.values()) {
            hash = 31 * hash + Arrays.hashCode(values);
        }
        return hash;
    }

    @Override
    public String toString() {
        return "DcsDocument[JOB " + job + ", " + traces.size() + " traces, " + holes.size() + " holes, DBL "
                + dbl + ", " + (header.size() + records.size()) + " other records]";
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
        private final List<DcsRecord> header = new ArrayList<>();
        private final List<DcsRecord> records = new ArrayList<>();

        private Builder() {}

        /**
         * Sets the job name.
         *
         * @param value the job name, or null for none
         * @return this builder
         */
        public Builder job(String value) {
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
            holes.add(Objects.requireNonNull(hole, "hole"));
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
            values.forEach(this::addHole);
            return this;
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
         * Replaces the uninterpreted records written last.
         *
         * @param values the records, in order
         * @return this builder
         */
        public Builder records(List<DcsRecord> values) {
            records.clear();
            records.addAll(values);
            return this;
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
