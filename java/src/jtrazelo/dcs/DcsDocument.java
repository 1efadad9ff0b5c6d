package jtrazelo.dcs;

import java.util.Collections;
import java.util.EnumMap;
import java.util.Map;
import java.util.Objects;
import java.util.Optional;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * A DCS ("OMA") job as this program writes and reads it: the job name, optional device and vendor
 * names, the distance between lenses and one {@link DcsSide} per traced eye. Immutable.
 */
public final class DcsDocument {
    private final String job;
    private final String device;
    private final String vendor;
    private final double dbl;
    private final Map<Eye, DcsSide> sides;

    /**
     * Makes a document.
     *
     * @param job the job name (the JOB record): not empty, printable ASCII without ';'
     * @param device the device name (DEV), or null; printable ASCII without ';'
     * @param vendor the vendor name (VEN), or null; printable ASCII without ';'
     * @param dbl the distance between lenses in mm, or NaN when unknown
     * @param sides the sides, by eye (copied; at least one)
     */
    public DcsDocument(String job, String device, String vendor, double dbl, Map<Eye, DcsSide> sides) {
        this.job = checkText("job", Objects.requireNonNull(job, "job"));
        if (job.isEmpty()) {
            throw new IllegalArgumentException("job: empty");
        }
        this.device = device == null ? null : checkText("device", device);
        this.vendor = vendor == null ? null : checkText("vendor", vendor);
        this.dbl = dbl;
        if (sides.isEmpty()) {
            throw new IllegalArgumentException("a DCS job needs at least one side");
        }
        EnumMap<Eye, DcsSide> copy = new EnumMap<>(Eye.class);
        for (Map.Entry<Eye, DcsSide> entry : sides.entrySet()) {
            if (entry.getValue().eye() != entry.getKey()) {
                throw new IllegalArgumentException("side " + entry.getValue().eye() + " filed under " + entry.getKey());
            }
            copy.put(entry.getKey(), entry.getValue());
        }
        this.sides = Collections.unmodifiableMap(copy);
    }

    private static String checkText(String what, String text) {
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == ';' || c < 0x20 || c > 0x7E) {
                throw new IllegalArgumentException(what + " must be printable ASCII without ';': " + text);
            }
        }
        return text;
    }

    /**
     * Makes the job of a trace: the traced eye as measured and the other eye as its mirror image
     * ({@link FrameTrace#mirror()}); figures rounded to 1/100 mm as the file keeps them.
     *
     * @param trace the trace
     * @param job the job name
     * @param device the device name, or null
     */
    public static DcsDocument fromTrace(FrameTrace trace, String job, String device) {
        EnumMap<Eye, DcsSide> sides = new EnumMap<>(Eye.class);
        for (FrameTrace side : new FrameTrace[] {trace, trace.mirror()}) {
            int[] radii = new int[side.pointCount()];
            for (int i = 0; i < radii.length; i++) {
                radii[i] = (int) Math.round(side.radius(i) * 100);
            }
            sides.put(side.eye(), new DcsSide(side.eye(), radii, hundredths(side.boxWidth()),
                    hundredths(side.boxHeight()), hundredths(side.perimeter()),
                    hundredths(side.baseCurve()),
                    side.drillHoles().stream()
                            .map(h -> new DrillHole(hundredths(h.x()), hundredths(h.y()), hundredths(h.diameter())))
                            .toList()));
        }
        return new DcsDocument(job, device, "JTrazelo", hundredths(trace.dbl()), sides);
    }

    private static double hundredths(double value) {
        return Math.round(value * 100) / 100.0;
    }

    /** Returns the job name. */
    public String job() {
        return job;
    }

    /** Returns the device name, if the document has one. */
    public Optional<String> device() {
        return Optional.ofNullable(device);
    }

    /** Returns the vendor name, if the document has one. */
    public Optional<String> vendor() {
        return Optional.ofNullable(vendor);
    }

    /** Returns the distance between lenses, mm, or NaN when unknown. */
    public double dbl() {
        return dbl;
    }

    /** Returns the sides by eye, right first. */
    public Map<Eye, DcsSide> sides() {
        return sides;
    }

    /** Returns the side of {@code eye}, if the document has it. */
    public Optional<DcsSide> side(Eye eye) {
        return Optional.ofNullable(sides.get(eye));
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof DcsDocument d
                && job.equals(d.job)
                && Objects.equals(device, d.device)
                && Objects.equals(vendor, d.vendor)
                && Double.compare(dbl, d.dbl) == 0
                && sides.equals(d.sides);
    }

    @Override
    public int hashCode() {
        return Objects.hash(job, device, vendor, dbl, sides);
    }

    @Override
    public String toString() {
        return "DcsDocument[JOB " + job + ", DBL " + dbl + ", " + sides.values() + "]";
    }
}
