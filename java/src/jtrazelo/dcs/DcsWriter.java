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
import java.util.OptionalInt;
import java.util.function.Supplier;
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
 * ETYP=both   or   ETYP=right;left          -1 uncut, 1 bevel, 2 rimless, 3 groove, 4 mini-bevel
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
 * <p>The edge type is one code when both eyes have the same ({@code ETYP=2}), as lab systems in
 * the field write it and read it: some take {@code ETYP} as one number only and drop a pair. Eyes
 * edged differently get {@code right;left}, the form of every record of both eyes. The figures are
 * always {@code right;left}, equal or not, which every reader takes per eye. A record the document
 * keeps as read ({@link DcsDocument#asRead(String)}, {@link DcsDocument#holeAsRead(int)}) is
 * written as read instead.
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
        interpreted(out, document, "JOB", () -> document.job().orElse("?"));
        interpreted(out, document, "DEV", () -> document.device().orElse("?"));
        interpreted(out, document, "VEN", () -> document.vendor().orElse("?"));
        interpreted(out, document, "FTYP", () -> code(document.frameType()));
        interpreted(out, document, "ETYP", () -> {
            String right = code(document.edgeType(Eye.RIGHT));
            String left = code(document.edgeType(Eye.LEFT));
            return right.equals(left) ? right : right + ";" + left;
        });
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
            interpreted(out, document, figure.name(), () -> number(document.figure(figure, Eye.RIGHT)) + ";"
                    + number(document.figure(figure, Eye.LEFT)));
        }
        interpreted(out, document, "DBL", () -> number(document.dbl()));
        for (int i = 0; i < document.holes().size(); i++) {
            DcsHole hole = document.holes().get(i);
            if (document.holeAsRead(i).isPresent()) {
                record(out, "DRILLE", document.holeAsRead(i).get());
                continue;
            }
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

    /**
     * Writes an interpreted record when the document has it, as read when kept so, else its values,
     * then the kept records that followed it.
     */
    private static void interpreted(Writer out, DcsDocument document, String label, Supplier<String> values)
            throws IOException {
        if (document.isWritten(label)) {
            record(out, label, document.asRead(label).orElseGet(values));
        }
        records(out, document.recordsAfter(label));
    }

    private static String code(OptionalInt code) {
        return code.isPresent() ? Integer.toString(code.getAsInt()) : "?";
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
