package jtrazelo.dcs;

import java.io.IOException;
import java.io.InputStreamReader;
import java.io.Reader;
import java.io.StringReader;
import java.io.UncheckedIOException;
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
 * end-of-file marks (Ctrl-Z) or NUL bytes after the last. Records may come in any order. Records
 * of labels that the document does not interpret are kept in order (see {@link DcsDocument}). In
 * the records it interprets, spaces about a value are dropped, a value {@code ?} or an empty field
 * is unknown, and trailing empty fields are ignored. Traces may be several (right, left, both eyes;
 * frame, pattern, demo lens); format 1 is decoded with equal or unequal angles, other formats are
 * kept as raw lines ({@link DcsTrace}). Drill records are read in the field layout
 * ({@code side;reference;x;y;diameter;...}), and in the layout without a reference that this
 * program once wrote ({@code side;x;y;diameter}, about the box centre).
 *
 * <p>A record's number of values never makes it unreadable. A record of the right and the left eye
 * ({@code ETYP}, {@code HBOX}, {@code VBOX}, {@code CIRC}, {@code FCRV}) with one value gives both
 * eyes that value, as writers in the field write it when it applies to both; a record with fewer
 * values than its fields (a drill record without its diameter) leaves the missing ones unknown; and
 * values beyond those the record's fields take are kept. A record whose number of values is not
 * the one {@link DcsWriter} would write for what it says is kept as read
 * ({@link DcsDocument#asRead(String)}, {@link DcsDocument#holeAsRead(int)}) and written back so. A
 * record that holds no value at all (every field empty or {@code ?}) says nothing and is not kept.
 *
 * <p>What cannot be read is refused with a {@link DcsFormatException} naming the line: a line that
 * is no {@code LABEL=value} record, a number that is not one, a trace whose records disagree with
 * the count its {@code TRCFMT} announces (refused at the first value beyond it), a {@code TRCFMT}
 * without its format, count, angles and side, conflicting records (a second {@code JOB},
 * {@code DBL} or figure record, two traces of the same side and type), a line that the document
 * would have to keep (every line but the {@code R} and {@code A} records of a decoded trace) longer
 * than {@link #MAX_LINE} characters, a file that holds no value at all (empty, or every value
 * unknown: a file cut off before anything was written looks like that). Nothing else is thrown for
 * any input.
 *
 * <p>Memory: the reader reads a file line by line, without holding the file, and never holds more
 * than what the document keeps plus one line of at most {@link #MAX_LINE} characters; the values
 * of a trace are read one at a time into room for no more than its {@code TRCFMT} count, which
 * grows with the values read, not with the count announced. Time is in proportion to the input.
 */
public final class DcsParser {
    /**
     * Longest line the reader keeps, in characters: a record it does not interpret, a data line of
     * a trace not decoded, and any interpreted record but {@code R} and {@code A}. Real records are
     * far shorter; a longer line is refused rather than held.
     */
    public static final int MAX_LINE = 1 << 20;

    /** Longest value field of an {@code R} or {@code A} record kept for checking and messages. */
    private static final int MAX_FIELD = 48;

    private DcsParser() {}

    /**
     * Parses DCS text.
     *
     * @param text the text, each character one byte of the file (ISO-8859-1)
     * @return the document
     * @throws DcsFormatException when the text cannot be read; it names the line
     */
    public static DcsDocument parse(String text) throws DcsFormatException {
        try {
            return new State().parse(new StringReader(text));
        } catch (DcsFormatException e) {
            throw e;
        } catch (IOException e) {
            throw new UncheckedIOException(e);  // a StringReader does not fail
        }
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
     * Parses DCS text from a reader, read to its end (or to the line refused) and not closed.
     *
     * @param in the reader
     * @return the document
     * @throws DcsFormatException when the text cannot be read; it names the line
     * @throws IOException when the reader fails
     */
    public static DcsDocument parse(Reader in) throws IOException {
        return new State().parse(in);
    }

    /**
     * Parses a DCS file, read as ISO-8859-1 line by line.
     *
     * @param path the file
     * @return the document
     * @throws DcsFormatException when the file cannot be read as DCS; it names the line
     * @throws IOException when the file cannot be read
     */
    public static DcsDocument parse(Path path) throws IOException {
        try (Reader in = new InputStreamReader(Files.newInputStream(path), StandardCharsets.ISO_8859_1)) {
            return parse(in);
        }
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

    /**
     * The characters of the input, read in blocks. End-of-file marks (Ctrl-Z) and NUL bytes are
     * passed on only when a character other than them follows: a run of them at the end of the
     * input is its end.
     */
    private static final class Source {
        private final Reader in;
        private final char[] block = new char[8192];
        private int position;
        private int limit;
        /** Characters read ahead and given back (a run of padding followed by more, or no BOM). */
        private final StringBuilder again = new StringBuilder();
        private int againPosition;

        Source(Reader in) {
            this.in = in;
        }

        /** {@return the next character from the reader, or -1 at its end} */
        private int raw() throws IOException {
            if (position == limit) {
                do {
                    limit = in.read(block, 0, block.length);
                } while (limit == 0);
                position = 0;
                if (limit < 0) {
                    limit = 0;
                    return -1;
                }
            }
            return block[position++];
        }

        /** {@return the next character, or -1 at the end of the input} */
        int read() throws IOException {
            if (againPosition < again.length()) {
                char c = again.charAt(againPosition++);
                if (againPosition == again.length()) {
                    again.setLength(0);
                    againPosition = 0;
                }
                return c;
            }
            int c = raw();
            if (c != '\u001A' && c != 0) {
                return c;
            }
            // A run of padding: the end of the input, or characters of a line. A run longer than
            // any line is cut: whatever line it belongs to is refused before its end is reached.
            again.append((char) c);
            while ((c = raw()) == '\u001A' || c == 0) {
                if (again.length() <= MAX_LINE + 1) {
                    again.append((char) c);
                }
            }
            if (c < 0) {
                again.setLength(0);
                return -1;
            }
            again.append((char) c);
            return read();
        }

        /** {@return the next character without taking it, or -1 at the end of the input} */
        int peek() throws IOException {
            int c = read();
            if (c >= 0) {
                unread(String.valueOf((char) c));
            }
            return c;
        }

        /** Gives back characters just read, to be read again first. */
        void unread(String text) {
            again.insert(againPosition, text);
        }
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
        private Source source;
        private int line;
        private boolean anyRecord;
        /** The last label of {@link DcsDocument#LABELS} read: kept records that follow stand after it. */
        private String place;
        private final Map<String, List<DcsRecord>> after = new HashMap<>();
        private Open current;

        DcsDocument parse(Reader in) throws IOException {
            source = new Source(in);
            skipByteOrderMark();
            while (source.peek() >= 0) {
                line++;
                readLine();
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

        /** A byte order mark before the first record carries nothing: as UTF-8 bytes, or decoded. */
        private void skipByteOrderMark() throws IOException {
            StringBuilder start = new StringBuilder();
            for (int i = 0; i < 3; i++) {
                int c = source.read();
                if (c < 0) {
                    break;
                }
                start.append((char) c);
                if (c == '\uFEFF' && i == 0) {
                    return;
                }
                if (c != "\u00EF\u00BB\u00BF".charAt(i)) {
                    break;
                }
            }
            if (!start.toString().equals("\u00EF\u00BB\u00BF")) {
                source.unread(start.toString());
            }
        }

        /**
         * Reads one line: the part before the first '=' first, then, for the values of a decoded
         * trace, one value at a time, else the rest of the line, which may be kept.
         */
        private void readLine() throws IOException {
            StringBuilder head = new StringBuilder();
            long length = 0;
            boolean blank = true;
            int c;
            while ((c = source.read()) >= 0 && c != '\n' && c != '\r' && c != '=') {
                length++;
                blank &= Character.isWhitespace(c);
                if (length <= MAX_LINE) {
                    head.append((char) c);
                } else if (!blank) {
                    throw tooLong(head);
                }
            }
            if (c != '=') {
                endOfLine(c);
                if (!blank) {
                    record(head.toString());
                }
                return;
            }
            if (length >= MAX_LINE) {
                throw tooLong(head);
            }
            String label = head.toString();
            if ((label.equals("R") || label.equals("A")) && (current == null || current.raw == null)) {
                anyRecord = true;
                traceData(label, source, label.length() + 2);
                return;
            }
            head.append('=');
            while ((c = source.read()) >= 0 && c != '\n' && c != '\r') {
                if (head.length() == MAX_LINE) {
                    throw tooLong(head);
                }
                head.append((char) c);
            }
            endOfLine(c);
            record(head.toString());
        }

        /** After a line's CR: the LF of a CR LF is part of the same line end. */
        private void endOfLine(int c) throws IOException {
            if (c == '\r' && source.peek() == '\n') {
                source.read();
            }
        }

        private DcsFormatException tooLong(CharSequence start) {
            return fail("the line is longer than " + MAX_LINE + " characters, more than a record may hold: \""
                    + DcsRecord.printable(start.subSequence(0, Math.min(start.length(), 41)).toString()) + "\"");
        }

        private void record(String content) throws IOException {
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
            if (label.equals("R") || label.equals("A")) {
                traceData(label, new Source(new StringReader(value)), equals + 2);
                return;
            }
            closeTrace();
            if (DcsDocument.LABELS.contains(label)) {
                place = label;
            }
            // Only the first two fields of the records of fixed fields are taken apart: a line of
            // many more costs no more than its own characters.
            boolean whole = label.equals("TRCFMT") || label.equals("DRILLE");
            String[] f = fields(value, whole ? Integer.MAX_VALUE : 2);
            switch (label) {
                case "JOB" -> document.job(name(label, f));
                case "DEV" -> document.device(name(label, f));
                case "VEN" -> document.vendor(name(label, f));
                case "FTYP" -> {
                    once(label);
                    document.frameType(code(label, f.length > 0 ? f[0] : ""));
                }
                case "ETYP" -> {
                    once(label);
                    document.edgeType(Eye.RIGHT, code(label, right(f)));
                    document.edgeType(Eye.LEFT, code(label, left(f, value)));
                }
                case "HBOX", "VBOX", "CIRC", "FCRV" -> {
                    once(label);
                    DcsDocument.Figure figure = DcsDocument.Figure.valueOf(label);
                    document.figure(figure, Eye.RIGHT, number(label, right(f)));
                    document.figure(figure, Eye.LEFT, number(label, left(f, value)));
                }
                case "DBL" -> {
                    once(label);
                    document.dbl(number(label, f.length > 0 ? f[0] : ""));
                }
                case "TRCFMT" -> traceFormat(f, value);
                default -> drillHole(f, value);  // DRILLE, the last interpreted label
            }
            int count = whole ? 0 : fieldCount(value);
            if (count > 0 && count != document.writtenValueCount(label)) {
                document.asRead(label, value);
            }
        }

        /** The right eye's value of a {@code right;left} record: the first. */
        private static String right(String[] f) {
            return f.length > 0 ? f[0] : "";
        }

        /**
         * The left eye's value of a {@code right;left} record: the second, or the right eye's when
         * the record has one value, without ';', for both eyes ({@code HBOX=50.00;} leaves the left
         * unknown).
         */
        private static String left(String[] f, String value) {
            return f.length > 1 ? f[1] : value.indexOf(';') < 0 ? right(f) : "";
        }

        /** JOB, DEV or VEN: the first value; empty or ? means none. */
        private String name(String label, String[] f) throws DcsFormatException {
            once(label);
            return f.length == 0 || f[0].isEmpty() || f[0].equals("?") ? null : f[0];
        }

        private void traceFormat(String[] f, String value) throws DcsFormatException {
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

        /**
         * The values of an {@code R} or {@code A} record, read one at a time from {@code in} up to
         * the end of the line, {@code column} being the column of the first: a line of any length
         * is read in the memory of its values, and refused at the first beyond the trace's count.
         * An empty field is an unknown radius (an angle must be known); trailing empty fields are
         * ignored.
         */
        private void traceData(String label, Source in, int column) throws IOException {
            Open trace = current;
            if (trace == null) {
                throw fail(label + " record outside a trace (no TRCFMT before it)");
            }
            boolean radius = label.equals("R");
            if (!radius && !trace.angleMode.equals("U")) {
                throw fail("A record in a trace of equally spaced points (TRCFMT on line " + trace.line + ")");
            }
            Ints values = radius ? trace.radii : trace.angles;
            StringBuilder field = new StringBuilder();
            int spaces = 0;
            int number = 1;
            int empty = 0;
            for (;;) {
                int c = in.read();
                if (c < 0 || c == '\n' || c == '\r' || c == ';') {
                    if (field.length() == 0) {
                        empty++;
                    } else {
                        for (; empty > 0; empty--) {
                            if (!radius) {
                                throw fail(notWhole(false, number - empty, ""));
                            }
                            add(trace, values, radius, DcsTrace.UNKNOWN);
                        }
                        String text = field.toString();
                        if (radius && text.equals("?")) {
                            add(trace, values, true, DcsTrace.UNKNOWN);
                        } else if (field.length() < MAX_FIELD && isWhole(text, true)) {
                            add(trace, values, radius, Integer.parseInt(text));
                        } else {
                            throw fail(notWhole(radius, number, text));
                        }
                    }
                    if (c != ';') {
                        endOfLine(c);
                        return;
                    }
                    field.setLength(0);
                    spaces = 0;
                    number++;
                } else if (c > 0xFF) {
                    throw fail(String.format("character U+%04X in column %d is not one of ISO-8859-1", c, column));
                } else if (!DcsRecord.isPrintable((char) c)) {
                    throw fail(String.format("character 0x%02X in column %d is not printable ASCII or Latin-1", c,
                            column));
                } else if (c == ' ') {
                    spaces++;  // dropped about the value, kept within it
                } else if (field.length() < MAX_FIELD) {
                    if (field.length() > 0) {
                        field.append(" ".repeat(Math.min(spaces, MAX_FIELD - field.length())));
                    }
                    spaces = 0;
                    if (field.length() < MAX_FIELD) {
                        field.append((char) c);
                    }
                }
                column++;
            }
        }

        private static String notWhole(boolean radius, int number, String text) {
            return (radius ? "radius " : "angle ") + number + " of the record, \"" + DcsRecord.printable(text)
                    + "\", is not a whole number of 1/100 " + (radius ? "mm" : "degree");
        }

        private void add(Open trace, Ints values, boolean radius, int value) throws DcsFormatException {
            if (values.size() == trace.count) {
                throw fail("more " + (radius ? "radii" : "angles") + " than the " + trace.count
                        + " that TRCFMT on line " + trace.line + " announced");
            }
            values.add(value);
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

        /**
         * A drill record: side;reference;x;y;diameter;more..., or side;x;y;diameter (the layout this
         * program once wrote, about the box centre). Missing fields are unknown; a record of no
         * value says nothing.
         */
        private void drillHole(String[] f, String value) throws DcsFormatException {
            if (Arrays.stream(f).allMatch(field -> !known(field))) {
                return;
            }
            String side = known(f[0]) ? f[0] : "?";
            if (!side.equals("R") && !side.equals("L") && !side.equals("B") && !side.equals("?")) {
                throw fail("DRILLE side \"" + DcsRecord.printable(f[0]) + "\" is not R, L or B");
            }
            boolean legacy = f.length == 4 && isDecimal(f[1]);
            String reference = legacy ? "C" : f.length > 1 && known(f[1]) ? f[1] : "?";
            int first = legacy ? 1 : 2;
            double x = number("DRILLE x", f.length > first ? f[first] : "");
            double y = number("DRILLE y", f.length > first + 1 ? f[first + 1] : "");
            double diameter = number("DRILLE diameter", f.length > first + 2 ? f[first + 2] : "");
            if (diameter <= 0) {
                throw fail("DRILLE needs a positive diameter, not \"" + f[first + 2] + "\"");
            }
            List<String> more = f.length > first + 3 ? List.of(Arrays.copyOfRange(f, first + 3, f.length)) : List.of();
            DcsHole hole = new DcsHole(side, reference, x, y, diameter, more);
            document.addHole(hole, legacy || f.length >= 5 ? null : value);
        }

        private Integer code(String label, String text) throws DcsFormatException {
            if (!known(text)) {
                return null;
            }
            if (!isWhole(text, true)) {
                throw fail(label + " value \"" + DcsRecord.printable(text) + "\" is not a whole number");
            }
            return Integer.parseInt(text);
        }

        private double number(String what, String text) throws DcsFormatException {
            if (!known(text)) {
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

    /** {@return true when a field holds a value: neither empty nor {@code ?}} */
    static boolean known(String field) {
        return !field.isEmpty() && !field.equals("?");
    }

    /** Splits a value at ';', trims each field and drops trailing empty fields. */
    static String[] fields(String value) {
        return fields(value, Integer.MAX_VALUE);
    }

    /** The first {@code limit} fields of {@link #fields(String)}. */
    private static String[] fields(String value, int limit) {
        String[] f = new String[Math.min(fieldCount(value), limit)];
        int start = 0;
        for (int i = 0; i < f.length; i++) {
            int end = value.indexOf(';', start);
            end = end < 0 ? value.length() : end;
            f[i] = value.substring(start, end).trim();
            start = end + 1;
        }
        return f;
    }

    /** {@return the number of fields of a value, trailing empty ones not counted} */
    private static int fieldCount(String value) {
        int count = 0;
        int field = 1;
        for (int i = 0; i < value.length(); i++) {
            char c = value.charAt(i);
            if (c == ';') {
                field++;
            } else if (c > ' ') {  // what trim() keeps
                count = field;
            }
        }
        return count;
    }

    /** {@return true when a field of a value holds a value: neither empty nor {@code ?}} */
    static boolean holdsValue(String value) {
        int start = 0;
        while (start <= value.length()) {
            int end = value.indexOf(';', start);
            end = end < 0 ? value.length() : end;
            String field = value.substring(start, end).trim();
            if (known(field)) {
                return true;
            }
            start = end + 1;
        }
        return false;
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
