package jtrazelo.dcs;

import java.io.IOException;
import java.io.Reader;
import java.io.StringWriter;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.EnumMap;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;

/**
 * Reads DCS records in the layout {@link DcsWriter} describes back into a {@link DcsDocument}.
 *
 * <p>Records end in CR LF (a bare LF is accepted as well); blank lines are skipped, and records of
 * labels this program does not use are ignored. Everything else is checked: the first record must
 * be JOB, traces must be format 1 (ASCII), equally spaced, for side R or L, with exactly the
 * announced number of radii, and figure records must carry numbers (or {@code ?} for unknown) in
 * the expected count. A malformed file is refused with a {@link DcsFormatException} naming the
 * line and the reason.
 */
public final class DcsParser {
    private static final Pattern LABEL = Pattern.compile("[A-Z][A-Z0-9]*");
    private static final Pattern WHOLE = Pattern.compile("[0-9]+");
    private static final Pattern DECIMAL = Pattern.compile("[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)");

    private DcsParser() {}

    /** Parses DCS text. */
    public static DcsDocument parse(String text) throws DcsFormatException {
        return new State().parse(text);
    }

    /** Parses DCS text from {@code in} (read to its end, not closed). */
    public static DcsDocument parse(Reader in) throws IOException {
        StringWriter text = new StringWriter();
        in.transferTo(text);
        return parse(text.toString());
    }

    /** Parses the DCS file {@code path} (US-ASCII; other bytes are refused as malformed). */
    public static DcsDocument parse(Path path) throws IOException {
        return parse(new String(Files.readAllBytes(path), StandardCharsets.ISO_8859_1));
    }

    /** What one trace (TRCFMT and its R records) has collected so far. */
    private static final class Trace {
        final Eye eye;
        final int line;
        final int[] radii;
        int filled;

        Trace(Eye eye, int line, int count) {
            this.eye = eye;
            this.line = line;
            this.radii = new int[count];
        }
    }

    private static final class State {
        private int line;
        private String job;
        private String device;
        private String vendor;
        private double dbl = Double.NaN;
        private Integer dblLine;
        private final Map<Eye, Trace> traces = new EnumMap<>(Eye.class);
        private Trace current;
        private final Map<String, Integer> figureLines = new HashMap<>();
        private final Map<String, double[]> figures = new HashMap<>();
        private final Map<Eye, List<DrillHole>> holes = new EnumMap<>(Eye.class);
        private final Map<Eye, Integer> firstHoleLine = new EnumMap<>(Eye.class);

        DcsDocument parse(String text) throws DcsFormatException {
            String[] lines = text.split("\n", -1);
            int count = lines.length;
            if (count > 0 && lines[count - 1].isEmpty()) {
                count--;  // the terminator of the last record
            }
            for (int i = 0; i < count; i++) {
                line = i + 1;
                String record = lines[i];
                if (record.endsWith("\r")) {
                    record = record.substring(0, record.length() - 1);
                }
                if (record.isBlank()) {
                    continue;
                }
                record(record);
            }
            line = Math.max(1, count);
            finishTrace();
            if (job == null) {
                throw fail("no JOB record (the file is empty)");
            }
            if (traces.isEmpty()) {
                throw fail("no TRCFMT record: the file holds no trace");
            }
            for (Map.Entry<Eye, Integer> entry : firstHoleLine.entrySet()) {
                if (!traces.containsKey(entry.getKey())) {
                    line = entry.getValue();
                    throw fail("drill hole for side " + entry.getKey().letter() + ", which has no trace");
                }
            }
            EnumMap<Eye, DcsSide> sides = new EnumMap<>(Eye.class);
            for (Trace trace : traces.values()) {
                int index = trace.eye == Eye.RIGHT ? 0 : 1;
                sides.put(trace.eye, new DcsSide(trace.eye, trace.radii, figure("HBOX", index),
                        figure("VBOX", index), figure("CIRC", index), figure("FCRV", index),
                        holes.getOrDefault(trace.eye, List.of())));
            }
            return new DcsDocument(job, device, vendor, dbl, sides);
        }

        private double figure(String label, int index) {
            double[] values = figures.get(label);
            return values == null ? Double.NaN : values[index];
        }

        private void record(String record) throws DcsFormatException {
            for (int i = 0; i < record.length(); i++) {
                char c = record.charAt(i);
                if (c < 0x20 || c > 0x7E) {
                    throw fail(String.format("character 0x%02X in column %d is not printable ASCII", (int) c, i + 1));
                }
            }
            int equals = record.indexOf('=');
            if (equals < 0) {
                throw fail("not a LABEL=value record: \"" + record + "\"");
            }
            String label = record.substring(0, equals);
            String value = record.substring(equals + 1);
            if (!LABEL.matcher(label).matches()) {
                throw fail("bad label \"" + label + "\" (upper-case letters and digits)");
            }
            if (!label.equals("R") && current != null) {
                finishTrace();  // a trace's R records follow its TRCFMT without a break
            }
            if (job == null && !label.equals("JOB")) {
                throw fail("the first record must be JOB=, not " + label + "=");
            }
            if ((label.equals("JOB") || label.equals("DEV") || label.equals("VEN")) && value.indexOf(';') >= 0) {
                throw fail(label + " must hold one value, without ';'");
            }
            switch (label) {
                case "JOB":
                    if (job != null) {
                        throw fail("a second JOB record");
                    }
                    if (value.isEmpty()) {
                        throw fail("JOB has no job name");
                    }
                    job = value;
                    break;
                case "DEV":
                    device = value;
                    break;
                case "VEN":
                    vendor = value;
                    break;
                case "TRCFMT":
                    traceFormat(value);
                    break;
                case "R":
                    radii(value);
                    break;
                case "HBOX":
                case "VBOX":
                case "CIRC":
                case "FCRV":
                    sideFigures(label, value);
                    break;
                case "DBL":
                    if (dblLine != null) {
                        throw fail("a second DBL record (the first is on line " + dblLine + ")");
                    }
                    String[] one = fields(label, value, 1);
                    dbl = number(label, one[0]);
                    dblLine = line;
                    break;
                case "DRILLE":
                    drillHole(value);
                    break;
                default:
                    break;  // a record this program does not use
            }
        }

        private void traceFormat(String value) throws DcsFormatException {
            finishTrace();
            String[] f = fields("TRCFMT", value, 5);
            if (!f[0].equals("1")) {
                throw fail("TRCFMT format \"" + f[0] + "\" is not supported (only 1, ASCII)");
            }
            if (!WHOLE.matcher(f[1]).matches() || f[1].length() > 6 || Integer.parseInt(f[1]) == 0) {
                throw fail("TRCFMT point count \"" + f[1] + "\" is not a whole number from 1 to 999999");
            }
            if (!f[2].equals("E")) {
                throw fail("TRCFMT spacing \"" + f[2] + "\" is not supported (only E, equally spaced)");
            }
            if (!f[3].equals("R") && !f[3].equals("L")) {
                throw fail("TRCFMT side \"" + f[3] + "\" is neither R nor L");
            }
            if (f[4].isEmpty()) {
                throw fail("TRCFMT has no trace type");
            }
            Eye eye = Eye.fromLetter(f[3].charAt(0));
            Trace earlier = traces.get(eye);
            if (earlier != null) {
                throw fail("a second trace for side " + eye.letter() + " (the first is on line " + earlier.line + ")");
            }
            current = new Trace(eye, line, Integer.parseInt(f[1]));
            traces.put(eye, current);
        }

        private void radii(String value) throws DcsFormatException {
            if (current == null) {
                throw fail("R record outside a trace (no TRCFMT before it)");
            }
            String[] f = value.split(";", -1);
            for (int i = 0; i < f.length; i++) {
                if (!WHOLE.matcher(f[i]).matches() || f[i].length() > 9) {
                    throw fail("radius " + (i + 1) + " of the record, \"" + f[i]
                            + "\", is not a whole number of 1/100 mm");
                }
                if (current.filled == current.radii.length) {
                    throw fail("more radii than the " + current.radii.length
                            + " that TRCFMT on line " + current.line + " announced");
                }
                current.radii[current.filled++] = Integer.parseInt(f[i]);
            }
        }

        private void finishTrace() throws DcsFormatException {
            Trace trace = current;
            current = null;
            if (trace != null && trace.filled != trace.radii.length) {
                line = trace.line;
                throw fail("TRCFMT announced " + trace.radii.length + " radii for side "
                        + trace.eye.letter() + ", the R records give " + trace.filled);
            }
        }

        private void sideFigures(String label, String value) throws DcsFormatException {
            Integer earlier = figureLines.get(label);
            if (earlier != null) {
                throw fail("a second " + label + " record (the first is on line " + earlier + ")");
            }
            String[] f = fields(label, value, 2);
            figures.put(label, new double[] {number(label, f[0]), number(label, f[1])});
            figureLines.put(label, line);
        }

        private void drillHole(String value) throws DcsFormatException {
            String[] f = fields("DRILLE", value, 4);
            if (!f[0].equals("R") && !f[0].equals("L")) {
                throw fail("DRILLE side \"" + f[0] + "\" is neither R nor L");
            }
            Eye eye = Eye.fromLetter(f[0].charAt(0));
            double x = number("DRILLE x", f[1]);
            double y = number("DRILLE y", f[2]);
            double diameter = number("DRILLE diameter", f[3]);
            if (Double.isNaN(x) || Double.isNaN(y) || !(diameter > 0)) {
                throw fail("DRILLE needs a known centre and a positive diameter: \"" + value + "\"");
            }
            holes.computeIfAbsent(eye, e -> new ArrayList<>()).add(new DrillHole(x, y, diameter));
            firstHoleLine.putIfAbsent(eye, line);
        }

        private String[] fields(String label, String value, int expected) throws DcsFormatException {
            String[] f = value.split(";", -1);
            if (f.length != expected) {
                throw fail(label + " needs " + expected + (expected == 1 ? " value" : " values")
                        + ", the record has " + f.length + ": \"" + value + "\"");
            }
            return f;
        }

        private double number(String what, String text) throws DcsFormatException {
            if (text.equals("?")) {
                return Double.NaN;
            }
            if (!DECIMAL.matcher(text).matches()) {
                throw fail(what + " value \"" + text + "\" is not a number");
            }
            return Double.parseDouble(text);
        }

        private DcsFormatException fail(String reason) {
            return new DcsFormatException(line, reason);
        }
    }
}
