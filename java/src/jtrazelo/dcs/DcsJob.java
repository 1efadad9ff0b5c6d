package jtrazelo.dcs;

import java.util.ArrayList;
import java.util.List;
import java.util.Objects;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * What a job says beyond its traces, and the document it makes of them: job name, device and
 * vendor, frame type, edge type and trace type.
 *
 * <pre>{@code
 * DcsDocument document = DcsJob.named("J1042").device("ScanMontura").vendor("ScanMontura")
 *         .document(trace);
 * }</pre>
 *
 * <p>What is not set follows from the traces: a frame with drill holes is rimless ({@code FTYP=3});
 * a rimless frame is edged rimless, both lenses ({@code ETYP=2}), and its trace is the demo lens's
 * ({@code D}), any other trace is the frame's ({@code F}). A frame type or edge type that is neither set nor
 * follows is not written.
 */
public final class DcsJob {
    private final String name;
    private String device;
    private String vendor;
    private FrameType frameType;
    private EdgeType edgeType;
    private String traceType;

    private DcsJob(String name) {
        this.name = Objects.requireNonNull(name, "name");
    }

    /**
     * Starts a job.
     *
     * @param name the job name ({@code JOB})
     * @return the job
     */
    public static DcsJob named(String name) {
        return new DcsJob(name);
    }

    /**
     * Sets the device name ({@code DEV}).
     *
     * @param value the name, or null for none
     * @return this job
     */
    public DcsJob device(String value) {
        device = value;
        return this;
    }

    /**
     * Sets the vendor name ({@code VEN}).
     *
     * @param value the name, or null for none
     * @return this job
     */
    public DcsJob vendor(String value) {
        vendor = value;
        return this;
    }

    /**
     * Sets the frame type.
     *
     * @param value the frame type, or null to take it from the traces
     * @return this job
     */
    public DcsJob frameType(FrameType value) {
        frameType = value;
        return this;
    }

    /**
     * Sets the edge type of both lenses.
     *
     * @param value the edge type, or null to take it from the frame type
     * @return this job
     */
    public DcsJob edgeType(EdgeType value) {
        edgeType = value;
        return this;
    }

    /**
     * Sets the trace type.
     *
     * @param value {@code F}, {@code P} or {@code D}, or null to take it from the frame type
     * @return this job
     */
    public DcsJob traceType(String value) {
        if (value != null && !value.equals("F") && !value.equals("P") && !value.equals("D")) {
            throw new IllegalArgumentException("trace type must be F, P or D: " + value);
        }
        traceType = value;
        return this;
    }

    /** {@return the job name} */
    public String name() {
        return name;
    }

    /**
     * Makes the document of one traced eye: that eye as measured and the other as its mirror
     * image ({@link FrameTrace#mirror()}).
     *
     * @param traced the traced eye
     * @return the document
     */
    public DcsDocument document(FrameTrace traced) {
        return traced.eye() == Eye.RIGHT ? document(traced, traced.mirror()) : document(traced.mirror(), traced);
    }

    /**
     * Makes the document of two traced eyes, the right and the left, each written as measured;
     * figures rounded to 1/100 mm as the file keeps them. The distance between lenses is the right
     * trace's.
     *
     * @param right the right eye's trace
     * @param left the left eye's trace
     * @return the document
     * @throws IllegalArgumentException when {@code right} is not a right eye's trace or
     *     {@code left} not a left eye's, or a name is not printable text without ';'
     */
    public DcsDocument document(FrameTrace right, FrameTrace left) {
        if (right.eye() != Eye.RIGHT || left.eye() != Eye.LEFT) {
            throw new IllegalArgumentException("need a right and a left trace, not " + right.eye() + " and "
                    + left.eye());
        }
        List<FrameTrace> traces = List.of(right, left);
        FrameType frame = frameType;
        if (frame == null && traces.stream().anyMatch(t -> !t.drillHoles().isEmpty())) {
            frame = FrameType.RIMLESS;
        }
        EdgeType edge = edgeType;
        if (edge == null && frame == FrameType.RIMLESS) {
            edge = EdgeType.RIMLESS;
        }
        String type = traceType != null ? traceType : frame == FrameType.RIMLESS ? "D" : "F";

        DcsDocument.Builder document = DcsDocument.builder().job(name).device(device).vendor(vendor)
                .frameType(frame == null ? null : frame.code()).dbl(hundredths(right.dbl()));
        List<DcsHole> holes = new ArrayList<>();
        for (FrameTrace trace : traces) {
            Eye eye = trace.eye();
            int[] radii = new int[trace.pointCount()];
            for (int i = 0; i < radii.length; i++) {
                radii[i] = (int) Math.round(trace.radius(i) * 100);
            }
            document.addTrace(DcsTrace.equallySpaced(String.valueOf(eye.letter()), type, radii));
            document.edgeType(eye, edge == null ? null : edge.code());
            document.figure(DcsDocument.Figure.HBOX, eye, hundredths(trace.boxWidth()));
            document.figure(DcsDocument.Figure.VBOX, eye, hundredths(trace.boxHeight()));
            document.figure(DcsDocument.Figure.CIRC, eye, hundredths(trace.perimeter()));
            document.figure(DcsDocument.Figure.FCRV, eye, hundredths(trace.baseCurve()));
            trace.drillHoles().forEach(h -> holes.add(DcsHole.centred(eye, new DrillHole(
                    hundredths(h.x()), hundredths(h.y()), Math.max(0.01, hundredths(h.diameter()))))));
        }
        return document.holes(holes).build();
    }

    private static double hundredths(double value) {
        return Double.isFinite(value) ? Math.round(value * 100) / 100.0 : Double.NaN;
    }
}
