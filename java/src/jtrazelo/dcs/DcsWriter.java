package jtrazelo.dcs;

import java.io.IOException;
import java.io.StringWriter;
import java.io.UncheckedIOException;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;

/**
 * Writes a {@link DcsDocument} as DCS ("OMA") records, {@code LABEL=value;value;...}, each ending
 * in CR LF, in this order:
 *
 * <pre>
 * JOB=job name
 * DEV=device name                      (when known)
 * VEN=vendor name                      (when known)
 * TRCFMT=1;N;E;R;F                     ASCII, N points, equally spaced, side, frame
 * R=r0;r1;...;r9                       radii in 1/100 mm, ten per record
 * ...                                  (TRCFMT and R records of the left side)
 * HBOX=right;left                      box width, mm
 * VBOX=right;left                      box height, mm
 * CIRC=right;left                      perimeter, mm
 * FCRV=right;left                      frame curve, dioptres
 * DBL=value                            distance between lenses, mm
 * DRILLE=side;x;y;diameter             one per drill hole, mm about the box centre
 * </pre>
 *
 * <p>Numbers carry two decimals; an unknown figure, or a side the document does not have, is
 * written {@code ?}. Drill-hole coordinates use the trace's own axes: x towards 3 o'clock as the
 * trace is seen, y up.
 */
public final class DcsWriter {
    /** Radii per R record. */
    public static final int RADII_PER_RECORD = 10;

    private static final String EOL = "\r\n";

    private DcsWriter() {}

    /** Writes {@code document} to {@code out}. */
    public static void write(DcsDocument document, Writer out) throws IOException {
        record(out, "JOB", document.job());
        if (document.device().isPresent()) {
            record(out, "DEV", document.device().get());
        }
        if (document.vendor().isPresent()) {
            record(out, "VEN", document.vendor().get());
        }
        for (DcsSide side : document.sides().values()) {
            record(out, "TRCFMT", "1;" + side.pointCount() + ";E;" + side.eye().letter() + ";F");
            int[] radii = side.radii();
            for (int start = 0; start < radii.length; start += RADII_PER_RECORD) {
                StringBuilder values = new StringBuilder();
                for (int i = start; i < Math.min(radii.length, start + RADII_PER_RECORD); i++) {
                    if (i > start) {
                        values.append(';');
                    }
                    values.append(radii[i]);
                }
                record(out, "R", values.toString());
            }
        }
        pair(out, "HBOX", document, DcsSide::boxWidth);
        pair(out, "VBOX", document, DcsSide::boxHeight);
        pair(out, "CIRC", document, DcsSide::circumference);
        pair(out, "FCRV", document, DcsSide::frameCurve);
        record(out, "DBL", number(document.dbl()));
        for (DcsSide side : document.sides().values()) {
            for (DrillHole hole : side.drillHoles()) {
                record(out, "DRILLE", side.eye().letter() + ";" + number(hole.x()) + ";"
                        + number(hole.y()) + ";" + number(hole.diameter()));
            }
        }
    }

    /** Returns {@code document} as DCS text. */
    public static String toString(DcsDocument document) {
        StringWriter text = new StringWriter();
        try {
            write(document, text);
        } catch (IOException e) {
            throw new UncheckedIOException(e);  // a StringWriter does not fail
        }
        return text.toString();
    }

    /** Writes {@code document} to the file {@code path} (US-ASCII text), replacing it. */
    public static void write(DcsDocument document, Path path) throws IOException {
        Files.writeString(path, toString(document), StandardCharsets.US_ASCII);
    }

    private interface Figure {
        double of(DcsSide side);
    }

    private static void pair(Writer out, String label, DcsDocument document, Figure figure)
            throws IOException {
        String right = document.side(Eye.RIGHT).map(s -> number(figure.of(s))).orElse("?");
        String left = document.side(Eye.LEFT).map(s -> number(figure.of(s))).orElse("?");
        record(out, label, right + ";" + left);
    }

    private static String number(double value) {
        return Double.isNaN(value) ? "?" : String.format(Locale.ROOT, "%.2f", value);
    }

    private static void record(Writer out, String label, String value) throws IOException {
        out.write(label);
        out.write('=');
        out.write(value);
        out.write(EOL);
    }
}
