package jtztests.output;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsFormatException;
import jtrazelo.dcs.DcsParser;
import jtrazelo.dcs.DcsSide;
import jtrazelo.dcs.DcsTrace;
import jtrazelo.dcs.DcsWriter;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;

/** The reader on files as other tracers and lab systems write them (tests/dcs-samples). */
class DcsSamplesTest {
    private static final Path SAMPLES = Path.of(System.getProperty("jtz.dcs.samples", "tests/dcs-samples"));

    static Stream<Path> samples() throws IOException {
        try (Stream<Path> files = Files.list(SAMPLES)) {
            List<Path> list = files.sorted().toList();
            assertTrue(list.size() >= 13, "samples in " + SAMPLES);
            return list.stream();
        }
    }

    private static DcsDocument read(String name) throws IOException {
        return DcsParser.parse(SAMPLES.resolve(name));
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiterString = " => ", value = {
        "lms-request.dcs => job L-20441 | dev TRC-900 | ven Optotec | ftyp 1 | etyp 1;1 | trace R F 360 E"
            + " | trace L F 360 E | hbox 52.10;52.10 | vbox 37.40;37.40 | circ 150.22;150.22 | fcrv 4.25;4.25"
            + " | dbl 18.00 | kept REQ=FIL OMAV=3.07 / _OPT_STATION ZZSHOP SPH CYL AX IPD LNAM SEGHT",
        "tracer-rimless-both.dcs => job 77801 | dev TR-4 | ven Meditrace | ftyp 3 | etyp 2;2 | trace B D 400 E"
            + " | hbox 50.00;? | vbox 34.00;? | fcrv 4.50;4.50 | dbl 20.00 | hole B C 22.50 4.00 1.40"
            + " | hole B CF -23.80 -1.30 1.00 -21.80 -1.30 | hole B ET 1.80 4.00 1.40   2.00  A 5.0 0.0"
            + " | kept OMAV=3.07 / _MT_HOLES",
        "unequal-angles.dcs => job U-3 | trace R F 90 U | trace L F 90 U | hbox 51.00;51.00 | vbox 38.00;38.00"
            + " | dbl 17.50",
        "pattern-1000.dcs => job P1000 | dev PAT-1 | trace R P 1000 E | trace L P 1000 E | hbox 48.00;48.00"
            + " | vbox 33.10;33.10 | dbl 19.00 | kept REQ=TRC",
        "binary-format.dcs => job BIN-9 | ven Lensmaker | trace R F 512 E format 4, not decoded"
            + " | trace L F 360 E | hbox ?;52.00 | vbox ?;39.00 | dbl 18.50",
        "mixed-endings.dcs => job MIX-1 | trace R F 36 E | hbox 48.00;48.00 | vbox 36.00;36.00 | dbl 16.00",
        "several-traces.dcs => job S-12 | ven Multilab | trace R F 360 E +ZFMT,Z | trace L F 360 E"
            + " | trace B P 400 E | trace R D 360 E | hbox 53.00;53.00 | vbox 40.00;40.00 | dbl 17.00"
            + " | kept / _ML_NOTE _ML_END",
        "invalid-points.dcs => job INV-1 | trace R F 72 E | hbox 50.00;?",
        "jtrazelo-legacy.dcs => job JTZ20250101120000 | dev ScanMontura | ven JTrazelo | trace R F 40 E"
            + " | trace L F 40 E | hbox 50.00;50.00 | vbox 34.00;34.00 | circ 142.44;142.44 | fcrv 4.50;4.50"
            + " | dbl 20.00 | hole R C 22.50 4.00 1.40 | hole R C -22.50 4.00 1.40 | hole L C -22.50 4.00 1.40"
            + " | hole L C 22.50 4.00 1.40",
        "drill-references.dcs => job DR-16 | ftyp 3 | etyp 2;2 | trace R D 120 E | trace L D 120 E"
            + " | hbox 50.00;50.00 | vbox 35.00;35.00 | dbl 19.50 | hole R C 1.50 3.00 1.20"
            + " | hole L CF 2.50 2.75 1.20 | hole R CR 3.50 2.50 1.20 | hole L EN 4.50 2.25 1.20"
            + " | hole R ENF 5.50 2.00 1.20 | hole L ENR 6.50 1.75 1.20 | hole R ET 7.50 1.50 1.20"
            + " | hole L ETF 8.50 1.25 1.20 | hole R ETR 9.50 1.00 1.20 | hole L BN 10.50 0.75 1.20"
            + " | hole R BNF 11.50 0.50 1.20 | hole L BNR 12.50 0.25 1.20 | hole R BT 13.50 0.00 1.20"
            + " | hole L BTF 14.50 -0.25 1.20 | hole R BTR 15.50 -0.50 1.20 | hole L R 16.50 -0.75 1.20"
            + " | hole R C 21.00 2.00 1.00 23.00 2.00 1.50 S B 10.0 -2.5 | hole L C -21.00 2.00 1.40 ? ? ? H F 0 0"
            + " | hole B BN 2.00 3.00 1.20",
        "vendor-labels.dcs => dev ACME 5 | trace R F 60 E +acme.r.quality | hbox 44.00;? | vbox 30.00;?"
            + " | kept x-acme.version=2.1 Note=trace after repair / _ACME_ ZZ9",
        "no-trace.dcs => job Q-5 | ftyp 2 | etyp 3;3 | kept REQ=INI / SPH",
        "lab-one-value.dcs => job W-8812 | dev LMS | ftyp 2 | etyp 1;1 | trace R F 180 E | trace L F 180 E"
            + " | hbox 49.80;49.70 | vbox 35.20;35.20 | circ 150.85;150.85 | fcrv 4.00;4.00 | dbl 18.50"
            + " | hole R C 20.00 3.00 ? | kept / SEGHT",
    })
    void eachSampleReadsAsExpected(String name, String expected) throws IOException {
        assertEquals(expected, DcsSummary.of(read(name)));
    }

    /** Read, written and read again: the same document, uninterpreted records included. */
    @ParameterizedTest(name = "{0}")
    @MethodSource("samples")
    void roundTripKeepsEverything(Path file) throws IOException {
        DcsDocument read = DcsParser.parse(file);
        byte[] written = DcsWriter.toBytes(read);
        assertEquals(read, DcsParser.parse(written));
        assertArrayEquals(written, DcsWriter.toBytes(DcsParser.parse(written)), "written twice the same");
    }

    /** A file in the writer's order with records of one value for both eyes comes back byte for byte. */
    @Test
    void oneValueRecordsComeBackAsTheyWere() throws IOException {
        byte[] original = Files.readAllBytes(SAMPLES.resolve("lab-one-value.dcs"));
        assertEquals(new String(original, StandardCharsets.ISO_8859_1),
                new String(DcsWriter.toBytes(DcsParser.parse(original)), StandardCharsets.ISO_8859_1));
    }

    @Test
    void aTraceForBothEyesIsMirroredForTheLeft() throws IOException {
        DcsDocument both = read("tracer-rimless-both.dcs");
        DcsSide right = both.side(Eye.RIGHT).orElseThrow();
        DcsSide left = both.side(Eye.LEFT).orElseThrow();
        assertFalse(right.mirrored());
        assertTrue(left.mirrored());
        assertTrue(right.trace() == left.trace(), "one trace for both");
        // The holes about the box centre (C, CF); the one from the temporal edge (ET) is not placed.
        assertEquals(List.of(new DrillHole(22.5, 4, 1.4), new DrillHole(-23.8, -1.3, 1.0)), right.drillHoles());
        assertEquals(List.of(new DrillHole(-22.5, 4, 1.4), new DrillHole(23.8, -1.3, 1.0)), left.drillHoles());
        assertEquals(50.0, right.boxWidth());
        assertTrue(Double.isNaN(left.boxWidth()), "HBOX=50.00; leaves the left unknown");
    }

    @Test
    void unequalAnglesComeFromTheARecords() throws IOException {
        DcsTrace trace = read("unequal-angles.dcs").traces().get(0);
        int[] angles = trace.angles();
        assertEquals(90, angles.length);
        boolean unequal = false;
        for (int i = 0; i < angles.length; i++) {
            assertEquals(angles[i] / 100.0, trace.angleDegrees(i), 1e-9);
            if (i > 0) {
                assertTrue(angles[i] > angles[i - 1], "rising angles");
                unequal |= Math.abs(trace.angleDegrees(i) - 4.0 * i) > 1;
            }
        }
        assertTrue(unequal, "not just the equal angles");
    }

    @Test
    void unmeasuredPointsAreKeptAndMarked() throws IOException {
        DcsTrace trace = read("invalid-points.dcs").traces().get(0);
        int[] radii = trace.radii();
        assertEquals(List.of(0, -1, -250, DcsTrace.UNKNOWN), List.of(radii[5], radii[6], radii[40], radii[41]));
        for (int i = 0; i < radii.length; i++) {
            boolean bad = i == 5 || i == 6 || i == 40 || i == 41;
            assertEquals(!bad, trace.isMeasured(i), "point " + i);
            assertEquals(bad, Double.isNaN(trace.radiusMm(i)), "point " + i);
        }
    }

    @Test
    void dataNotDecodedAndOtherBytesAreWrittenBackAsRead() throws IOException {
        byte[] original = Files.readAllBytes(SAMPLES.resolve("binary-format.dcs"));
        DcsDocument document = DcsParser.parse(original);
        assertEquals(List.of("TRCFMT=4;512;E;R;F: format 4, not decoded"), document.notes());
        assertEquals(4, document.traces().get(0).rawLines().size(), "a lone CR ends a line");
        // The data lines byte for byte, but for the line end that the lone CR becomes.
        String text = new String(original, StandardCharsets.ISO_8859_1);
        String data = text.substring(text.indexOf("D=@"), text.indexOf("TRCFMT=1")).replace("\r \u0000", "\r\n \u0000");
        assertTrue(data.endsWith("\u008f\r\n") && data.contains("=;\r\n \u0000B\r\nZZPACK\u0080"), data);
        String written = new String(DcsWriter.toBytes(document), StandardCharsets.ISO_8859_1);
        assertTrue(written.contains("\r\n" + data + "TRCFMT=1;"));

        byte[] lab = DcsWriter.toBytes(read("lms-request.dcs"));
        assertTrue(new String(lab, StandardCharsets.ISO_8859_1).contains("\r\nZZSHOP=\u00d3ptica Centro Norte\r\n"));
    }

    @Test
    void lineEndsBlankLinesAndSpacesDoNotMatter() throws IOException {
        String mixed = Files.readString(SAMPLES.resolve("mixed-endings.dcs"), StandardCharsets.ISO_8859_1);
        assertTrue(mixed.contains("\r\n") && mixed.contains("\n\n") && mixed.matches("(?s).*\r[^\n].*"), "all kinds");
        String plain = String.join("\r\n", mixed.replace(" ", "").split("\r\n|\n|\r")) + "\r\n";
        assertEquals(DcsParser.parse(plain.replaceAll("(\r\n)+", "\r\n")), DcsParser.parse(mixed));
    }

    /**
     * Damaged files: every mutation of every sample is read or refused with the reader's own
     * exception naming a line of the input, and what is read writes and reads back the same.
     */
    @Test
    void damagedFilesAreReadOrRefusedNamingALine() throws IOException {
        int read = 0;
        for (Path file : samples().toList()) {
            read += damage(file, 300);
        }
        assertTrue(read > 100, read + " damaged files read: the writer was exercised too");
    }

    /** Reads {@code rounds} mutations of {@code file}; returns how many were read. */
    private static int damage(Path file, int rounds) throws IOException {
        byte[] original = Files.readAllBytes(file);
        Random random = new Random(file.getFileName().toString().hashCode());
        String[] tokens = {";", "?", "=", "\r", "\n", "-", ".", " ", "999999999999", "1e5", "\u00ff", "\u0000",
            "TRCFMT=1;999999;U;B;F\r\n", "TRCFMT=3;5;X;L;\r\n", "R=", "A=1;2\r\n", "DRILLE=B;", "HBOX=;;;\r\n",
            "JOB=", "\r\nZZ=1\r\n", "DBL=1" + "0".repeat(330) + "\r\n", "R=?;-0;+1\r\n"};
        int read = 0;
        for (int round = 0; round < rounds; round++) {
            String text = mutate(new String(original, StandardCharsets.ISO_8859_1), random, tokens);
            DcsDocument document;
            try {
                document = DcsParser.parse(text);
            } catch (DcsFormatException e) {
                long lines = text.chars().filter(c -> c == '\n' || c == '\r').count() + 1;
                assertTrue(e.lineNumber() >= 1 && e.lineNumber() <= lines, e.getMessage());
                continue;
            } catch (RuntimeException e) {
                throw new AssertionError(file.getFileName() + " round " + round + ": " + e + " for\n" + text, e);
            }
            read++;
            DcsDocument again = DcsParser.parse(DcsWriter.toBytes(document));
            if (!document.equals(again)) {
                fail(file.getFileName() + " round " + round + ": read back differently:\n"
                        + DcsWriter.toString(document));
            }
        }
        return read;
    }

    private static String mutate(String text, Random random, String[] tokens) {
        StringBuilder out = new StringBuilder(text);
        for (int edits = 1 + random.nextInt(3); edits > 0; edits--) {
            int at = out.length() == 0 ? 0 : random.nextInt(out.length());
            switch (random.nextInt(5)) {
                case 0 -> out.insert(at, (char) random.nextInt(256)).deleteCharAt(Math.min(at + 1, out.length() - 1));
                case 1 -> out.delete(at, Math.min(out.length(), at + 1 + random.nextInt(40)));
                case 2 -> out.insert(at, tokens[random.nextInt(tokens.length)]);
                case 3 -> {
                    int from = out.lastIndexOf("\n", at) + 1;
                    int to = out.indexOf("\n", at);
                    out.insert(from, out.substring(from, to < 0 ? out.length() : to + 1));
                }
                default -> out.setLength(at);
            }
        }
        return out.toString();
    }

    /** A count announces memory that the input does not hold: the reader does not reserve it. */
    @ParameterizedTest
    @CsvSource({"TRCFMT=1;999999;E;R;F", "TRCFMT=1;999999;U;B;P", "TRCFMT=4;999999;E;L;F"})
    void aCountAloneReservesNoMemory(String record) {
        com.sun.management.ThreadMXBean threads =
                (com.sun.management.ThreadMXBean) ManagementFactory.getThreadMXBean();
        String text = "JOB=1\r\n" + record + "\r\nR=2500;2510;2520\r\nA=0;100;200\r\n";
        long used = Long.MAX_VALUE;
        for (int round = 0; round < 2; round++) {  // the first may load classes
            long before = threads.getCurrentThreadAllocatedBytes();
            try {
                DcsParser.parse(text);
            } catch (DcsFormatException expected) {
                // the records disagree with the count
            }
            used = threads.getCurrentThreadAllocatedBytes() - before;
        }
        assertTrue(used < 1_000_000, used + " bytes allocated for a " + text.length() + "-character input");
    }

    /**
     * A line of 40 MB is refused at the first value beyond the trace's count, or at the bound of a
     * line kept whole, without the reader holding it; a blank line of any length is skipped.
     */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "TRCFMT=1;400;E;R;F\\nR=   | 1234;  | 2 | more radii than the 400 that TRCFMT on line 1 announced",
        "TRCFMT=1;400;U;R;F\\nA=   | 1;     | 2 | more angles than the 400",
        "DRILLE=R;C;1;2;3            | ;7    | 1 | longer than 1048576 characters",
        "JOB=1\\nZZVENDOR=          | x     | 2 | longer than 1048576 characters",
        "JOB=1\\nTRCFMT=4;9;E;R;F\\n | @     | 3 | longer than 1048576 characters",
        "JOB=1\\nR=                 | 1;    | 2 | R record outside a trace",
        "'JOB=1\\n'                 | ' '   | 0 | ",
    })
    void aLongLineIsNotHeld(String start, String repeated, int line, String reason) throws IOException {
        com.sun.management.ThreadMXBean threads =
                (com.sun.management.ThreadMXBean) ManagementFactory.getThreadMXBean();
        long size = 40L << 20;
        long before = threads.getCurrentThreadAllocatedBytes();
        try {
            DcsDocument read = DcsParser.parse(new Repeating(start.replace("\\n", "\r\n"), repeated, size));
            assertEquals(0, line, "read: " + read);
        } catch (DcsFormatException e) {
            assertEquals(line, e.lineNumber(), e.getMessage());
            assertTrue(e.reason().contains(reason), e.getMessage());
        }
        long used = threads.getCurrentThreadAllocatedBytes() - before;
        assertTrue(used < 8L * DcsParser.MAX_LINE, used + " bytes allocated reading a line of " + size + " characters");
    }

    /** {@code start}, then {@code unit} repeated to {@code size} characters, then a line end: made as read. */
    private static final class Repeating extends java.io.Reader {
        private final String start;
        private final String unit;
        private final long size;
        private long position;

        Repeating(String start, String unit, long size) {
            this.start = start;
            this.unit = unit;
            this.size = size;
        }

        @Override
        public int read(char[] buffer, int offset, int length) {
            if (position > size) {
                return -1;
            }
            int n = 0;
            for (; n < length && position <= size; n++, position++) {
                buffer[offset + n] = position == size ? '\n'
                        : position < start.length() ? start.charAt((int) position)
                        : unit.charAt((int) ((position - start.length()) % unit.length()));
            }
            return n;
        }

        @Override
        public void close() {}
    }
}
