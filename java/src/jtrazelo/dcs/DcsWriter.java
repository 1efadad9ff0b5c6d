package jtrazelo.dcs;

import java.io.IOException;
import java.io.StringWriter;
import java.io.UncheckedIOException;
import java.io.Writer;
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * Writes a {@link DcsDocument} as DCS ("OMA") records, {@code LABEL=value;value;...}, each ending
 * in CR LF, in this order:
 *
 * <pre>
 * (uninterpreted records read before the first interpreted one, such as REQ and OMAV)
 * (after each record below: the uninterpreted records that followed it when read)
 * JOB=job name                              when the document has them
 * DEV=device name
 * VEN=vendor name
 * FTYP=frame type                           0 undefined, 1 plastic, 2 metal, 3 rimless, 4 optyl
 * ETYP=right;left                           -1 uncut, 1 bevel, 2 rimless, 3 groove, 4 mini-bevel
 * TRCFMT=1;N;E;R;F                          per trace: format, points, angles, side, type
 * R=r0;r1;...;r9                            radii in 1/100 mm, ten a record
 * A=a0;a1;...;a9                            unequal angles (U) only: 1/100 degree, ten a record
 * (the trace's own uninterpreted records; a trace not decoded is followed by its data lines)
 * HBOX=right;left                           box width, mm
 * VBOX=right;left                           box height, mm
 * CIRC=right;left                           perimeter, mm
 * FCRV=right;left                           frame curve, dioptres
 * DBL=value                                 distance between lenses, mm
 * DRILLE=side;reference;x;y;diameter[;...]  one a drill record, mm: for example DRILLE=R;C;22.50;4.00;1.40
 * </pre>
 *
 * <p>Figures and DBL are written when the document has a trace (an unknown one as {@code ?}) or
 * when known. Numbers carry at least two decimals, more when the value has them. Positions follow
 * {@link FrameTrace}'s conventions: seen from the front, x towards 3 o'clock, y up; a drill record
 * with reference {@code C} is about the box centre. The text is ISO-8859-1, so that records kept
 * from another file are written back byte for byte.
 */
public final class DcsWriter {
    /** Radii (and angles) per record. */
    public static final int RADII_PER_RECORD = 10;

    private static final String EOL = "\r\n";

    private DcsWriter() {}

    /**
     * Writes a document as DCS text.
     *
     * @param document the document
     * @param out where to write (not closed)
     * @throws IOException when {@code out} fails
     */
    public static void write(DcsDocument document, Writer out) throws IOException {
        records(out, document.header());
        if (document.isWritten("JOB")) {
            record(out, "JOB", document.job().orElseThrow());
        }
        records(out, document.recordsAfter("JOB"));
        if (document.isWritten("DEV")) {
            record(out, "DEV", document.device().orElseThrow());
        }
        records(out, document.recordsAfter("DEV"));
        if (document.isWritten("VEN")) {
            record(out, "VEN", document.vendor().orElseThrow());
        }
        records(out, document.recordsAfter("VEN"));
        if (document.isWritten("FTYP")) {
            record(out, "FTYP", Integer.toString(document.frameType().getAsInt()));
        }
        records(out, document.recordsAfter("FTYP"));
        if (document.isWritten("ETYP")) {
            record(out, "ETYP", code(document, Eye.RIGHT) + ";" + code(document, Eye.LEFT));
        }
        records(out, document.recordsAfter("ETYP"));
        for (DcsTrace trace : document.traces()) {
            record(out, "TRCFMT", trace.formatValue());
            values(out, "R", trace.radii());
            values(out, "A", trace.angles());
            for (String line : trace.rawLines()) {
                out.write(line);
                out.write(EOL);
            }
            records(out, trace.records());
        }
        for (DcsDocument.Figure figure : DcsDocument.Figure.values()) {
            if (document.isWritten(figure.name())) {
                record(out, figure.name(), number(document.figure(figure, Eye.RIGHT)) + ";"
                        + number(document.figure(figure, Eye.LEFT)));
            }
            records(out, document.recordsAfter(figure.name()));
        }
        if (document.isWritten("DBL")) {
            record(out, "DBL", number(document.dbl()));
        }
        records(out, document.recordsAfter("DBL"));
        for (DcsHole hole : document.holes()) {
            StringBuilder value = new StringBuilder();
            value.append(hole.side()).append(';').append(hole.reference()).append(';').append(number(hole.x()))
                    .append(';').append(number(hole.y())).append(';').append(number(hole.diameter()));
            for (String field : hole.more()) {
                value.append(';').append(field);
            }
            record(out, "DRILLE", value.toString());
        }
        records(out, document.recordsAfter("DRILLE"));
    }

    /**
     * Returns a document as DCS text.
     *
     * @param document the document
     * @return the text
     */
    public static String toString(DcsDocument document) {
        StringWriter text = new StringWriter();
        try {
            write(document, text);
        } catch (IOException e) {
            throw new UncheckedIOException(e);  // a StringWriter does not fail
        }
        return text.toString();
    }

    /**
     * Returns a document as the bytes of a DCS file (ISO-8859-1).
     *
     * @param document the document
     * @return the bytes
     */
    public static byte[] toBytes(DcsDocument document) {
        // Every character of a document is in ISO-8859-1: its classes check that.
        return toString(document).getBytes(StandardCharsets.ISO_8859_1);
    }

    /**
     * Writes a document to a file, replacing it.
     *
     * @param document the document
     * @param path the file
     * @throws IOException when the file cannot be written
     */
    public static void write(DcsDocument document, Path path) throws IOException {
        Files.write(path, toBytes(document));
    }

    private static String code(DcsDocument document, Eye eye) {
        return document.edgeType(eye).isPresent() ? Integer.toString(document.edgeType(eye).getAsInt()) : "?";
    }

    private static void values(Writer out, String label, int[] values) throws IOException {
        for (int start = 0; start < values.length; start += RADII_PER_RECORD) {
            StringBuilder text = new StringBuilder();
            for (int i = start; i < Math.min(values.length, start + RADII_PER_RECORD); i++) {
                if (i > start) {
                    text.append(';');
                }
                text.append(values[i] == DcsTrace.UNKNOWN ? "?" : Integer.toString(values[i]));
            }
            record(out, label, text.toString());
        }
    }

    /** A number with at least two decimals and as many as it needs to read back the same; NaN is ?. */
    static String number(double value) {
        if (Double.isNaN(value)) {
            return "?";
        }
        BigDecimal decimal = BigDecimal.valueOf(value);
        if (decimal.scale() < 2) {
            decimal = decimal.setScale(2);
        }
        return decimal.toPlainString();
    }

    private static void records(Writer out, List<DcsRecord> records) throws IOException {
        for (DcsRecord record : records) {
            record(out, record.label(), record.value());
        }
    }

    private static void record(Writer out, String label, String value) throws IOException {
        out.write(label);
        out.write('=');
        out.write(value);
        out.write(EOL);
    }
}
