package jtrazelo.dcs;

import java.io.IOException;
import java.io.Reader;
import java.io.StringWriter;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import jtrazelo.tracer.Eye;

/**
 * Reads DCS files as tracers and lab systems write them into a {@link DcsDocument}.
 *
 * <p>A file is a list of {@code LABEL=value;value;...} records, one a line; lines end in CR LF, LF
 * or CR, and blank lines are skipped, as are a byte order mark before the first record and
 * end-of-file marks (Ctrl-Z) or NUL bytes after the last. Records may come in any order. Records of labels that the
 * document does not interpret are kept in order (see {@link DcsDocument}). In the records it
 * interprets, spaces about a value are dropped, a value {@code ?} or an empty field is unknown, and
 * trailing empty fields are ignored. Traces may be several (right, left, both eyes; frame, pattern,
 * demo lens); format 1 is decoded with equal or unequal angles, other formats are kept as raw lines
 * ({@link DcsTrace}). Drill records are read in the field layout ({@code side;reference;x;y;
 * diameter;...}), and in the layout without a reference that this program once wrote
 * ({@code side;x;y;diameter}, about the box centre).
 *
 * <p>What cannot be read is refused with a {@link DcsFormatException} naming the line: a line that
 * is no {@code LABEL=value} record, a number that is not one, a trace whose records disagree with
 * the count its {@code TRCFMT} announces, conflicting records (a second {@code JOB}, {@code DBL} or
 * figure record, two traces of the same side and type), a file that holds no value at all (empty,
 * or every value unknown: a file cut off before anything was written looks like that). Nothing
 * else is thrown for any input; reading takes time and memory in proportion to the input, whatever
 * counts it announces.
 */
public final class DcsParser {
    private DcsParser() {}

    /**
     * Parses DCS text.
     *
     * @param text the text, each character one byte of the file (ISO-8859-1)
     * @return the document
     * @throws DcsFormatException when the text cannot be read; it names the line
     */
    public static DcsDocument parse(String text) throws DcsFormatException {
        return new State().parse(text);
    }

    /**
     * Parses the bytes of a DCS file, read as ISO-8859-1 so that every byte is one character.
     *
     * @param bytes the file's bytes
     * @return the document
     * @throws DcsFormatException when the file cannot be read; it names the line
     */
    public static DcsDocument parse(byte[] bytes) throws DcsFormatException {
        return parse(new String(bytes, StandardCharsets.ISO_8859_1));
    }

    /**
     * Parses DCS text from a reader, read to its end and not closed.
     *
     * @param in the reader
     * @return the document
     * @throws DcsFormatException when the text cannot be read; it names the line
     * @throws IOException when the reader fails
     */
    public static DcsDocument parse(Reader in) throws IOException {
        StringWriter text = new StringWriter();
        in.transferTo(text);
        return parse(text.toString());
    }

    /**
     * Parses a DCS file.
     *
     * @param path the file
     * @return the document
     * @throws DcsFormatException when the file cannot be read as DCS; it names the line
     * @throws IOException when the file cannot be read
     */
    public static DcsDocument parse(Path path) throws IOException {
        return parse(Files.readAllBytes(path));
    }

    /**
     * Returns true when {@code line}, within the data of a trace not decoded, ends them: a record of
     * an interpreted label other than {@code R} and {@code A}.
     */
    static boolean endsRawData(String line) {
        int equals = line.indexOf('=');
        if (equals <= 0) {
            return false;
        }
        String label = line.substring(0, equals);
        return DcsRecord.INTERPRETED.contains(label) && !label.equals("R") && !label.equals("A");
    }

    /** A growing list of ints: memory follows the values read, not a count announced. */
    private static final class Ints {
        private int[] values = new int[16];
        private int size;

        void add(int value) {
            if (size == values.length) {
                values = Arrays.copyOf(values, size * 2);
            }
            values[size++] = value;
        }

        int size() {
            return size;
        }

        int[] toArray() {
            return Arrays.copyOf(values, size);
        }
    }

    /** A trace being read. */
    private static final class Open {
        final int line;
        final int format;
        final int count;
        final String angleMode;
        final String side;
        final String type;
        final List<String> extra;
        final Ints radii = new Ints();
        final Ints angles = new Ints();
        final List<String> raw;
        final List<DcsRecord> records = new ArrayList<>();

        Open(int line, int format, int count, String angleMode, String side, String type, List<String> extra) {
            this.line = line;
            this.format = format;
            this.count = count;
            this.angleMode = angleMode;
            this.side = side;
            this.type = type;
            this.extra = extra;
            this.raw = format == 1 ? null : new ArrayList<>();
        }
    }

    private static final class State {
        private final DcsDocument.Builder document = DcsDocument.builder();
        private final List<DcsRecord> header = new ArrayList<>();
        private final Map<String, Integer> once = new HashMap<>();
        private final Map<String, Integer> traceLines = new HashMap<>();
        private int line;
        private boolean anyRecord;
        /** The last label of {@link DcsDocument#LABELS} read: kept records that follow stand after it. */
        private String place;
        private final Map<String, List<DcsRecord>> after = new HashMap<>();
        private Open current;

        DcsDocument parse(String text) throws DcsFormatException {
            // A byte order mark before the first record (as UTF-8 bytes, or decoded), and the
            // end-of-file marks (Ctrl-Z) or NUL padding of older systems after the last, carry nothing.
            int start = text.startsWith("\u00EF\u00BB\u00BF") ? 3 : text.startsWith("\uFEFF") ? 1 : 0;
            int length = text.length();
            while (length > start && (text.charAt(length - 1) == '\u001A' || text.charAt(length - 1) == '\u0000')) {
                length--;
            }
            while (start < length) {
                int end = start;
                while (end < length && text.charAt(end) != '\r' && text.charAt(end) != '\n') {
                    end++;
                }
                line++;
                String content = text.substring(start, end);
                boolean crLf = end + 1 < length && text.charAt(end) == '\r' && text.charAt(end + 1) == '\n';
                start = end + (crLf ? 2 : 1);
                if (!content.isBlank()) {
                    record(content);
                }
            }
            closeTrace();
            if (!anyRecord) {
                line = 1;
                throw fail("the file holds no records");
            }
            after.forEach(document::recordsAfter);
            DcsDocument read = document.header(header).build();
            if (read.isEmpty()) {
                line = 1;
                throw fail("the file holds no values: each record is empty or unknown (?)");
            }
            return read;
        }

        private void record(String content) throws DcsFormatException {
            anyRecord = true;
            for (int i = 0; i < content.length(); i++) {
                if (content.charAt(i) > 0xFF) {
                    throw fail(String.format("character U+%04X in column %d is not one of ISO-8859-1",
                            (int) content.charAt(i), i + 1));
                }
            }
            if (current != null && current.raw != null && !endsRawData(content)) {
                current.raw.add(content);
                return;
            }
            int equals = content.indexOf('=');
            if (equals < 0) {
                throw fail("not a LABEL=value record: \"" + DcsRecord.printable(content) + "\"");
            }
            String label = content.substring(0, equals);
            String why = DcsRecord.labelProblem(label);
            if (why != null) {
                throw fail(why);
            }
            String value = content.substring(equals + 1);
            if (!DcsRecord.INTERPRETED.contains(label)) {
                DcsRecord record = new DcsRecord(label, value);
                if (current != null) {
                    current.records.add(record);
                } else if (place == null) {
                    header.add(record);
                } else {
                    after.computeIfAbsent(place, p -> new ArrayList<>()).add(record);
                }
                return;
            }
            for (int i = 0; i < value.length(); i++) {
                if (!DcsRecord.isPrintable(value.charAt(i))) {
                    throw fail(String.format("character 0x%02X in column %d is not printable ASCII or Latin-1",
                            (int) value.charAt(i), equals + i + 2));
                }
            }
            if (!label.equals("R") && !label.equals("A")) {
                closeTrace();
            }
            if (DcsDocument.LABELS.contains(label)) {
                place = label;
            }
            switch (label) {
                case "JOB" -> document.job(name(label, value));
                case "DEV" -> document.device(name(label, value));
                case "VEN" -> document.vendor(name(label, value));
                case "FTYP" -> {
                    once(label);
                    document.frameType(code(label, single(label, value)));
                }
                case "ETYP" -> {
                    once(label);
                    String[] pair = pair(label, value);
                    document.edgeType(Eye.RIGHT, code(label, pair[0]));
                    document.edgeType(Eye.LEFT, code(label, pair[1]));
                }
                case "HBOX", "VBOX", "CIRC", "FCRV" -> {
                    once(label);
                    String[] pair = pair(label, value);
                    DcsDocument.Figure figure = DcsDocument.Figure.valueOf(label);
                    document.figure(figure, Eye.RIGHT, number(label, pair[0]));
                    document.figure(figure, Eye.LEFT, number(label, pair[1]));
                }
                case "DBL" -> {
                    once(label);
                    document.dbl(number(label, single(label, value)));
                }
                case "TRCFMT" -> traceFormat(value);
                case "R", "A" -> traceData(label, value);
                default -> drillHole(value);  // DRILLE, the last interpreted label
            }
        }

        /** JOB, DEV or VEN: one value; empty or ? means none. */
        private String name(String label, String value) throws DcsFormatException {
            once(label);
            String[] f = fields(value);
            if (f.length > 1) {
                throw fail(label + " must hold one value, without ';': \"" + DcsRecord.printable(value) + "\"");
            }
            return f.length == 0 || f[0].isEmpty() || f[0].equals("?") ? null : f[0];
        }

        private void traceFormat(String value) throws DcsFormatException {
            String[] f = fields(value);
            if (f.length < 4) {
                throw fail("TRCFMT needs format;count;angles;side;type, the record has " + f.length
                        + (f.length == 1 ? " field" : " fields") + ": \"" + DcsRecord.printable(value) + "\"");
            }
            if (!isWhole(f[0], false) || Integer.parseInt(f[0]) < 1) {
                throw fail("TRCFMT format \"" + f[0] + "\" is not a whole number from 1");
            }
            int format = Integer.parseInt(f[0]);
            if (!isWhole(f[1], false) || Integer.parseInt(f[1]) < 1 || Integer.parseInt(f[1]) > DcsTrace.MAX_POINTS) {
                throw fail("TRCFMT point count \"" + f[1] + "\" is not a whole number from 1 to "
                        + DcsTrace.MAX_POINTS);
            }
            int count = Integer.parseInt(f[1]);
            if (format == 1 && !f[2].equals("E") && !f[2].equals("U")) {
                throw fail("TRCFMT angles \"" + f[2] + "\" are neither E (equally spaced) nor U (unequal)");
            }
            if (!f[3].equals("R") && !f[3].equals("L") && !f[3].equals("B")) {
                throw fail("TRCFMT side \"" + f[3] + "\" is not R, L or B");
            }
            String type = f.length > 4 ? f[4] : "";
            Integer earlier = traceLines.putIfAbsent(f[3] + ";" + type, line);
            if (earlier != null) {
                throw fail("a second trace for side " + f[3] + " (the first is on line " + earlier
                        + "), both of type \"" + type + "\"");
            }
            List<String> extra = f.length > 5 ? List.of(Arrays.copyOfRange(f, 5, f.length)) : List.of();
            current = new Open(line, format, count, f[2], f[3], type, extra);
        }

        private void traceData(String label, String value) throws DcsFormatException {
            Open trace = current;
            if (trace == null) {
                throw fail(label + " record outside a trace (no TRCFMT before it)");
            }
            boolean radius = label.equals("R");
            if (!radius && !trace.angleMode.equals("U")) {
                throw fail("A record in a trace of equally spaced points (TRCFMT on line " + trace.line + ")");
            }
            Ints values = radius ? trace.radii : trace.angles;
            String[] f = fields(value);
            for (int i = 0; i < f.length; i++) {
                int number;
                if (radius && f[i].equals("?")) {
                    number = DcsTrace.UNKNOWN;
                } else if (isWhole(f[i], true)) {
                    number = Integer.parseInt(f[i]);
                } else {
                    throw fail((radius ? "radius " : "angle ") + (i + 1) + " of the record, \""
                            + DcsRecord.printable(f[i]) + "\", is not a whole number of 1/100 "
                            + (radius ? "mm" : "degree"));
                }
                if (values.size() == trace.count) {
                    throw fail("more " + (radius ? "radii" : "angles") + " than the " + trace.count
                            + " that TRCFMT on line " + trace.line + " announced");
                }
                values.add(number);
            }
        }

        private void closeTrace() throws DcsFormatException {
            Open trace = current;
            current = null;
            if (trace == null) {
                return;
            }
            if (trace.raw == null) {
                if (trace.radii.size() != trace.count) {
                    line = trace.line;
                    throw fail("TRCFMT announced " + trace.count + " radii for side " + trace.side
                            + ", the R records give " + trace.radii.size());
                }
                if (trace.angleMode.equals("U") && trace.angles.size() != trace.count) {
                    line = trace.line;
                    throw fail("TRCFMT announced " + trace.count + " angles for side " + trace.side
                            + ", the A records give " + trace.angles.size());
                }
            }
            document.addTrace(new DcsTrace(trace.format, trace.count, trace.angleMode, trace.side, trace.type,
                    trace.extra, trace.radii.toArray(), trace.angles.toArray(),
                    trace.raw == null ? List.of() : trace.raw, trace.records));
        }

        private void drillHole(String value) throws DcsFormatException {
            String[] f = fields(value);
            if (f.length == 0 || (!f[0].equals("R") && !f[0].equals("L") && !f[0].equals("B"))) {
                throw fail("DRILLE side \"" + (f.length == 0 ? "" : f[0]) + "\" is not R, L or B");
            }
            String reference;
            int first;
            if (f.length == 4 && isDecimal(f[1])) {
                reference = "C";  // side;x;y;diameter, about the box centre
                first = 1;
            } else if (f.length < 5) {
                throw fail("DRILLE needs side;reference;x;y;diameter, the record has " + f.length
                        + (f.length == 1 ? " field" : " fields") + ": \"" + DcsRecord.printable(value) + "\"");
            } else if (f[1].isEmpty()) {
                throw fail("DRILLE has no reference");
            } else {
                reference = f[1];
                first = 2;
            }
            double x = number("DRILLE x", f[first]);
            double y = number("DRILLE y", f[first + 1]);
            double diameter = number("DRILLE diameter", f[first + 2]);
            if (diameter <= 0) {
                throw fail("DRILLE needs a positive diameter, not \"" + f[first + 2] + "\"");
            }
            List<String> more = List.of(Arrays.copyOfRange(f, first + 3, f.length));
            document.addHole(new DcsHole(f[0], reference, x, y, diameter, more));
        }

        /** The values of a record for one value; trailing empty fields are ignored. */
        private String single(String label, String value) throws DcsFormatException {
            String[] f = fields(value);
            if (f.length > 1) {
                throw fail(label + " needs 1 value, the record has " + f.length + ": \""
                        + DcsRecord.printable(value) + "\"");
            }
            return f.length == 0 ? "" : f[0];
        }

        /** The values of a {@code right;left} record (none at all: both unknown); more must be empty. */
        private String[] pair(String label, String value) throws DcsFormatException {
            String[] all = value.split(";", -1);
            String[] f = fields(value);
            if ((all.length < 2 && f.length > 0) || f.length > 2) {
                throw fail(label + " needs 2 values (right;left), the record has " + f.length + ": \""
                        + DcsRecord.printable(value) + "\"");
            }
            return new String[] {f.length > 0 ? f[0] : "", f.length > 1 ? f[1] : ""};
        }

        private Integer code(String label, String text) throws DcsFormatException {
            if (text.isEmpty() || text.equals("?")) {
                return null;
            }
            if (!isWhole(text, true)) {
                throw fail(label + " value \"" + DcsRecord.printable(text) + "\" is not a whole number");
            }
            return Integer.parseInt(text);
        }

        private double number(String what, String text) throws DcsFormatException {
            if (text.isEmpty() || text.equals("?")) {
                return Double.NaN;
            }
            if (!isDecimal(text)) {
                throw fail(what + " value \"" + DcsRecord.printable(text) + "\" is not a number");
            }
            double value = Double.parseDouble(text);
            if (Double.isInfinite(value)) {
                throw fail(what + " value \"" + DcsRecord.printable(text) + "\" is out of range");
            }
            return value + 0.0;  // -0.00 is 0
        }

        private void once(String label) throws DcsFormatException {
            Integer earlier = once.putIfAbsent(label, line);
            if (earlier != null) {
                throw fail("a second " + label + " record (the first is on line " + earlier + ")");
            }
        }

        private DcsFormatException fail(String reason) {
            return new DcsFormatException(line, reason);
        }
    }

    /** Splits a value at ';', trims each field and drops trailing empty fields. */
    private static String[] fields(String value) {
        String[] f = value.split(";", -1);
        int count = f.length;
        for (int i = 0; i < count; i++) {
            f[i] = f[i].trim();
        }
        while (count > 0 && f[count - 1].isEmpty()) {
            count--;
        }
        return count == f.length ? f : Arrays.copyOf(f, count);
    }

    /** A whole number of at most nine digits, with an optional sign when {@code signed}. */
    private static boolean isWhole(String text, boolean signed) {
        int start = signed && !text.isEmpty() && (text.charAt(0) == '+' || text.charAt(0) == '-') ? 1 : 0;
        int digits = text.length() - start;
        if (digits < 1 || digits > 9) {
            return false;
        }
        for (int i = start; i < text.length(); i++) {
            if (text.charAt(i) < '0' || text.charAt(i) > '9') {
                return false;
            }
        }
        return true;
    }

    /** A decimal number: optional sign, digits with an optional point, at least one digit. */
    private static boolean isDecimal(String text) {
        int i = !text.isEmpty() && (text.charAt(0) == '+' || text.charAt(0) == '-') ? 1 : 0;
        boolean digit = false;
        boolean point = false;
        for (; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c >= '0' && c <= '9') {
                digit = true;
            } else if (c == '.' && !point) {
                point = true;
            } else {
                return false;
            }
        }
        return digit;
    }
}
