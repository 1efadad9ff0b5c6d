package jtztests.output;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsFormatException;
import jtrazelo.dcs.DcsJob;
import jtrazelo.dcs.DcsParser;
import jtrazelo.dcs.DcsSide;
import jtrazelo.dcs.DcsWriter;
import jtrazelo.dcs.EdgeType;
import jtrazelo.dcs.FrameType;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The DCS writer and parser. */
class DcsTest {
    private final FrameTrace trace = Shapes.drilled();
    private final DcsDocument document = DcsDocument.fromTrace(trace, "JOB42", "ScanMontura");
    private final String text = DcsWriter.toString(document);
    private final String[] records = text.split("\r\n");

    @Test
    void roundTripGivesTheSameDocument() throws IOException {
        assertEquals(document, DcsParser.parse(text));
    }

    @Test
    void roundTripThroughAFile(@TempDir Path folder) throws IOException {
        Path file = folder.resolve("job.dcs");
        DcsWriter.write(document, file);
        assertEquals(document, DcsParser.parse(file));
        assertEquals(text, Files.readString(file));
    }

    @Test
    void recordsEndInCrLfAndStartWithTheJob() {
        assertTrue(text.endsWith("\r\n"));
        assertFalse(text.replace("\r\n", "").contains("\n"), "no bare LF");
        assertFalse(text.replace("\r\n", "").contains("\r"), "no bare CR");
        assertEquals("JOB=JOB42", records[0]);
        assertEquals("DEV=ScanMontura", records[1]);
    }

    @Test
    void tracedEyeIsWrittenAsMeasured() {
        DcsSide right = document.side(Eye.RIGHT).orElseThrow();
        int[] expected = Arrays.stream(trace.radii()).mapToInt(r -> (int) Math.round(r * 100)).toArray();
        assertArrayEquals(expected, right.radii());
        assertEquals(trace.dbl(), document.dbl(), 0.005);
        assertEquals(trace.boxWidth(), right.boxWidth(), 0.005);
        assertEquals(trace.perimeter(), right.circumference(), 0.005);
        assertEquals(trace.baseCurve(), right.frameCurve(), 0.005);
        assertTrue(Arrays.asList(records).contains(String.format(java.util.Locale.ROOT,
                "HBOX=%.2f;%.2f", trace.boxWidth(), trace.boxWidth())));
    }

    @Test
    void tenRadiiPerRecord() {
        List<String> radiusRecords = Arrays.stream(records).filter(r -> r.startsWith("R=")).toList();
        assertEquals(2 * 40, radiusRecords.size(), "400 radii per side");
        for (String record : radiusRecords) {
            assertEquals(10, record.substring(2).split(";").length, record);
        }
        String odd = DcsWriter.toString(DcsDocument.fromTrace(
                Shapes.trace(Eye.LEFT, Shapes.egg(25), List.of()), "J", null));
        List<Integer> counts = Arrays.stream(odd.split("\r\n")).filter(r -> r.startsWith("R="))
                .map(r -> r.substring(2).split(";").length).toList();
        assertEquals(List.of(10, 10, 5, 10, 10, 5), counts);
    }

    @Test
    void otherEyeIsTheMirrorImage() {
        // A drilled frame is rimless: the traced outline is the demo lens's (type D).
        assertTrue(Arrays.asList(records).containsAll(List.of("TRCFMT=1;400;E;R;D", "TRCFMT=1;400;E;L;D")));
        int[] right = document.side(Eye.RIGHT).orElseThrow().radii();
        int[] left = document.side(Eye.LEFT).orElseThrow().radii();
        int n = right.length;
        for (int i = 0; i < n; i++) {
            assertEquals(right[Math.floorMod(n / 2 - i, n)], left[i], "point " + i);
        }
        assertEquals(List.of("DRILLE=R;C;19.50;4.00;1.40", "DRILLE=R;C;-19.25;3.50;1.60",
                "DRILLE=L;C;-19.50;4.00;1.40", "DRILLE=L;C;19.25;3.50;1.60"),
                Arrays.stream(records).filter(r -> r.startsWith("DRILLE=")).toList());
    }

    @Test
    void aLeftTraceGetsARightMirror() throws IOException {
        FrameTrace left = Shapes.trace(Eye.LEFT, Shapes.egg(40), List.of());
        DcsDocument doc = DcsDocument.fromTrace(left, "J", null);
        assertArrayEquals(doc.side(Eye.LEFT).orElseThrow().radii(),
                DcsDocument.fromTrace(left.mirror(), "J", null).side(Eye.LEFT).orElseThrow().radii());
        assertEquals(doc, DcsParser.parse(DcsWriter.toString(doc)));
    }

    @Test
    void unknownFiguresAndLabelsAreTolerated() throws IOException {
        DcsDocument parsed = DcsParser.parse("JOB=7\nTRCFMT=1;3;E;L;F\nR=100;200;300\n\nHBOX=?;51.5\n"
                + "ZTILT=3;4\n");
        DcsSide left = parsed.side(Eye.LEFT).orElseThrow();
        assertEquals(51.5, left.boxWidth());
        assertTrue(Double.isNaN(left.boxHeight()));
        assertTrue(Double.isNaN(parsed.dbl()));
        assertFalse(parsed.side(Eye.RIGHT).isPresent());
        String written = DcsWriter.toString(parsed);
        assertTrue(written.contains("HBOX=?;51.50\r\n"), written);
        assertTrue(written.contains("DBL=?\r\n"), written);
    }

    @ParameterizedTest(name = "{2}")
    @CsvSource(delimiter = '|', value = {
        "JOB=1\\nJOB=2                                          | 2 | second JOB",
        "JOB=1\\nR=1;2;3                                        | 2 | R record outside a trace",
        "JOB=1\\nTRCFMT=1;4;E;R;F\\nR=1;2;3\\nHBOX=1;2           | 2 | TRCFMT announced 4 radii for side R, the R records give 3",
        "JOB=1\\nTRCFMT=1;2;E;R;F\\nR=1;2;3                      | 3 | more radii than the 2",
        "JOB=1\\nTRCFMT=1;3;E;R;F\\nR=1;x;3                      | 3 | radius 2 of the record",
        "JOB=1\\nTRCFMT=1;3;U;R;F\\nR=1;2;3\\nA=0;100           | 2 | TRCFMT announced 3 angles for side R, the A records give 2",
        "JOB=1\\nTRCFMT=1;2;U;R;F\\nR=1;2\\nA=0;90;180          | 4 | more angles than the 2",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nA=0                   | 4 | A record in a trace of equally spaced points",
        "JOB=1\\nTRCFMT=1;3;E;X;F                                | 2 | side \"X\" is not R, L or B",
        "JOB=1\\nTRCFMT=1;3;Q;R;F                                | 2 | angles \"Q\" are neither E",
        "JOB=1\\nTRCFMT=0;3;E;R;F                                | 2 | format \"0\" is not a whole number from 1",
        "JOB=1\\nTRCFMT=1;3;E                                    | 2 | TRCFMT needs format;count;angles;side;type",
        "JOB=1\\nTRCFMT=1;0;E;R;F                                | 2 | point count \"0\"",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nTRCFMT=1;1;E;R;F        | 4 | second trace for side R (the first is on line 2)",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nVBOX=a;b                | 4 | VBOX value \"a\" is not a number",
        "JOB=1\\nFTYP=rimless                                    | 2 | FTYP value \"rimless\" is not a whole number",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nDRILLE=R;1;2;0          | 4 | positive diameter",
        "JOB=1\\nDRILLE=R;C;1;2;-1                               | 2 | positive diameter",
        "JOB=1\\nDRILLE=Q;C;1;2;1                                | 2 | DRILLE side \"Q\"",
        "JOB=1\\nTRCFMT=1;3;U;R;F\\nR=1;2;3\\nA=0;;200           | 4 | angle 2 of the record, \"\", is not a whole number",
        "JOB=1\\nDRILLE=R;C;1,5;2;1                              | 2 | DRILLE x value \"1,5\" is not a number",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nno equals sign          | 4 | not a LABEL=value record",
        "JOB=1\\n=5                                              | 2 | the record has no label",
        "JOB=1\\nA B=5                                           | 2 | bad label \"A B\"",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nDBL=1\\nDBL=2           | 5 | second DBL record (the first is on line 4)",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\tx                       | 3 | not printable ASCII",
        "JOB=1\\nDEV=\u20ac                                       | 2 | U+20AC in column 5 is not one of ISO-8859-1",
        "''                                                     | 1 | the file holds no records",
        "\\n  \\n                                               | 1 | the file holds no records",
        "DEV=?\\nHBOX=;\\nJOB=                                   | 1 | the file holds no values",
    })
    void malformedInputIsRefusedNamingTheLine(String input, int line, String reason) {
        String file = input.replace("\\n", "\r\n").replace("\\t", "\t") + "\r\n";
        DcsFormatException e = assertThrows(DcsFormatException.class, () -> DcsParser.parse(file));
        assertEquals(line, e.lineNumber(), e.getMessage());
        assertTrue(e.getMessage().startsWith("line " + line + ": "), e.getMessage());
        assertTrue(e.reason().contains(reason), e.getMessage());
    }

    /** Input that an older reader refused and that is read now, summarised by {@link DcsSummary}. */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiterString = " => ", value = {
        "TRCFMT=1;3;E;R;F\\nR=1;2;3 => trace R F 3 E",
        "REQ=FIL\\nOMAV=3.07\\nJOB=5 => job 5 | kept REQ=FIL OMAV=3.07",
        "JOB=1\\nTRCFMT=2;3;E;R;F => job 1 | trace R F 3 E format 2, not decoded",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nDRILLE=L;1;2;1 => job 1 | trace R F 1 E | hole L C 1.00 2.00 1.00",
        "JOB=1\\nHBOX=1;2 => job 1 | hbox 1.00;2.00",
        "JOB=7;\\nDEV=?\\nVEN=\\nHBOX=50.00;\\nDBL=?; => job 7 | hbox 50.00;?",
        "JOB=1\\nTRCFMT=1;3;E;B;P\\nR=2500;-1;? => job 1 | trace B P 3 E",
        "JOB=1\\nDRILLE=B;CF;-26.20;-1.30;1.00;-24.20;-1.30;;; => job 1 | hole B CF -26.20 -1.30 1.00 -24.20 -1.30",
        "JOB=1\\nDRILLE=R;ENF;2;3;? => job 1 | hole R ENF 2.00 3.00 ?",
        "JOB=1\\nTRCFMT=1;2;E;R;F;7\\nR=1\\nZFMT=1\\nR=3\\nHBOX=; => job 1 | trace R F 2 E ;7 +ZFMT",
        "job=lower\\nX.Y-Z_1=a;b;;\\nZZ= => kept job=lower X.Y-Z_1=a;b;; ZZ=",
        "FTYP= 3 \\nETYP=2;?\\nVBOX=; => ftyp 3 | etyp 2;?",
        "\u00ef\u00bb\u00bfJOB=BOM\\nDBL=1 => job BOM | dbl 1.00",
        "\ufeffJOB=BOM => job BOM",
        "JOB=DOS\\n\u001a\u0000\u0000 => job DOS",
    })
    void toleratedInputIsRead(String input, String expected) throws IOException {
        String file = input.replace("\\n", "\r\n");
        DcsDocument read = DcsParser.parse(file);
        assertEquals(expected, DcsSummary.of(read));
        assertEquals(read, DcsParser.parse(DcsWriter.toString(read)), "read, written and read again");
    }

    @Test
    void numbersTooLargeForADoubleAreRefused() {
        String file = "JOB=1\r\nDBL=1" + "0".repeat(400) + "\r\n";
        DcsFormatException e = assertThrows(DcsFormatException.class, () -> DcsParser.parse(file));
        assertEquals(2, e.lineNumber());
        assertTrue(e.reason().contains("out of range"), e.getMessage());
    }

    /**
     * A record's number of values never makes it unreadable: one value of a right;left record is
     * both eyes', missing values are unknown, more are kept; a record read with another number of
     * values than the writer gives it is written back as read.
     */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiterString = " => ", value = {
        // right;left records with one value, as lab systems write them for both eyes
        "ETYP=1 => etyp 1;1 => ETYP=1",
        "ETYP=3 => etyp 3;3 => ETYP=3",
        "CIRC=150.85 => circ 150.85;150.85 => CIRC=150.85",
        "JOB=1\\nHBOX=50 => job 1 | hbox 50.00;50.00 => JOB=1\\nHBOX=50",
        "VBOX= 34.5 \\nFCRV=4.25 => vbox 34.50;34.50 | fcrv 4.25;4.25 => VBOX= 34.5 \\nFCRV=4.25",
        "JOB=1\\nFCRV=? => job 1 => JOB=1",
        // two values: equal ones as read, others as the writer writes them; a trailing ';' leaves the left unknown
        "ETYP=2;2 => etyp 2;2 => ETYP=2;2",
        "ETYP=2;3 => etyp 2;3 => ETYP=2;3",
        "ETYP=;3 => etyp ?;3 => ETYP=?;3",
        "ETYP=2; => etyp 2;? => ETYP=2;",
        "HBOX=50.00;50.00 => hbox 50.00;50.00 => HBOX=50.00;50.00",
        "HBOX=50.00;? => hbox 50.00;? => HBOX=50.00;?",
        // more values than the record's fields: kept
        "HBOX=50;51;52 => hbox 50.00;51.00 => HBOX=50;51;52",
        "ETYP=2;2;2 => etyp 2;2 => ETYP=2;2;2",
        "JOB=1\\nCIRC=?;?;140 => job 1 => JOB=1\\nCIRC=?;?;140",
        "DEV=a;b => dev a => DEV=a;b",
        "JOB=?;J2\\nDBL=1 => dbl 1.00 => JOB=?;J2\\nDBL=1.00",
        "FTYP=3;3\\nDBL=1;2 => ftyp 3 | dbl 1.00 => FTYP=3;3\\nDBL=1;2",
        // drill records: missing fields unknown, ? and empty fields unknown, more kept
        "DRILLE=R;C;1;2 => hole R C 1.00 2.00 ? => DRILLE=R;C;1;2",
        "DRILLE=R => hole R ? ? ? ? => DRILLE=R",
        "DRILLE=?;C;1;2;1.5 => hole ? C 1.00 2.00 1.50 => DRILLE=?;C;1.00;2.00;1.50",
        "DRILLE=;;1;2;1.5 => hole ? ? 1.00 2.00 1.50 => DRILLE=?;?;1.00;2.00;1.50",
        "DRILLE=L;ENF;1;2;1.5;3; 4;; => hole L ENF 1.00 2.00 1.50 3 4 => DRILLE=L;ENF;1.00;2.00;1.50;3;4",
        "JOB=1\\nDRILLE=;?; => job 1 => JOB=1",
        // an empty radius is unknown, as ? is
        "JOB=1\\nTRCFMT=1;3;E;R;F\\nR=1;;3; => job 1 | trace R F 3 E"
            + " => JOB=1\\nTRCFMT=1;3;E;R;F\\nR=1;?;3\\nHBOX=?;?\\nVBOX=?;?\\nCIRC=?;?\\nFCRV=?;?\\nDBL=?",
    })
    void valueCountsNeverMakeARecordUnreadable(String input, String expected, String written) throws IOException {
        DcsDocument read = DcsParser.parse(input.replace("\\n", "\r\n") + "\r\n");
        assertEquals(expected, DcsSummary.of(read));
        String text = DcsWriter.toString(read);
        assertEquals(written.replace("\\n", "\r\n") + "\r\n", text);
        assertEquals(read, DcsParser.parse(text), "read, written and read again");
    }

    /** What the job says reaches the file: frame type, edge type and trace type, set or derived. */
    @ParameterizedTest(name = "drilled {0}, {1}, {2}, {3}")
    @CsvSource(delimiter = '|', value = {
        "true  |          |         |   | FTYP=3 ETYP=2 TRCFMT=1;400;E;R;D",
        "false |          |         |   | TRCFMT=1;400;E;R;F",
        "false | METAL    | GROOVE  | P | FTYP=2 ETYP=3 TRCFMT=1;400;E;R;P",
        "true  | PLASTIC  |         |   | FTYP=1 TRCFMT=1;400;E;R;F",
        "false | RIMLESS  |         |   | FTYP=3 ETYP=2 TRCFMT=1;400;E;R;D",
        "false |          | UNCUT   |   | ETYP=-1 TRCFMT=1;400;E;R;F",
        "true  | OPTYL    | RIMLESS | F | FTYP=4 ETYP=2 TRCFMT=1;400;E;R;F",
    })
    void theJobSaysWhatIsTracedAndHowItIsEdged(boolean drilled, FrameType frame, EdgeType edge, String type,
            String expected) throws IOException {
        FrameTrace traced = drilled ? trace : Shapes.trace(Eye.RIGHT, Shapes.egg(400), List.of());
        DcsDocument job = DcsJob.named("J").frameType(frame).edgeType(edge).traceType(type).document(traced);
        List<String> lines = Arrays.stream(DcsWriter.toString(job).split("\r\n"))
                .filter(r -> r.startsWith("FTYP=") || r.startsWith("ETYP=") || r.startsWith("TRCFMT=1;400;E;R")).toList();
        assertEquals(expected, String.join(" ", lines));
        assertEquals(job, DcsParser.parse(DcsWriter.toString(job)));
    }

    @Test
    void drillRecordsUseTheFieldLayoutAndReadBackAsTheSameHoles() throws IOException {
        for (String record : records) {
            if (record.startsWith("DRILLE=")) {
                String[] fields = record.substring(7).split(";", -1);
                assertEquals(5, fields.length, record);
                assertEquals("C", fields[1], "the box centre is the reference: " + record);
            }
        }
        DcsDocument read = DcsParser.parse(text);
        assertEquals(trace.drillHoles(), read.side(Eye.RIGHT).orElseThrow().drillHoles());
        assertEquals(trace.mirror().drillHoles(), read.side(Eye.LEFT).orElseThrow().drillHoles());
    }

    @Test
    void deviceAndVendorNameTheDeviceUnlessSet() {
        assertTrue(text.contains("\r\nDEV=ScanMontura\r\nVEN=ScanMontura\r\n"), text);
        String named = DcsWriter.toString(DcsJob.named("J").device("TR-9").vendor("Acme").document(trace));
        assertTrue(named.startsWith("JOB=J\r\nDEV=TR-9\r\nVEN=Acme\r\n"), named);
        String anonymous = DcsWriter.toString(DcsJob.named("J").document(trace));
        assertFalse(anonymous.contains("DEV=") || anonymous.contains("VEN="), anonymous);
    }

    @Test
    void twoTracedEyesAreWrittenAsMeasured() throws IOException {
        FrameTrace right = Shapes.trace(Eye.RIGHT, Shapes.egg(400), List.of(new DrillHole(20, 3, 1.2)));
        FrameTrace left = Shapes.trace(Eye.LEFT, Shapes.ellipse(360, 25, 18), List.of(new DrillHole(-21, 2.5, 1)));
        DcsDocument read = DcsParser.parse(DcsWriter.toString(DcsJob.named("J").document(right, left)));
        for (FrameTrace traced : List.of(right, left)) {
            DcsSide side = read.side(traced.eye()).orElseThrow();
            assertArrayEquals(Arrays.stream(traced.radii()).mapToInt(r -> (int) Math.round(r * 100)).toArray(),
                    side.radii());
            assertEquals(traced.drillHoles(), side.drillHoles());
        }
        assertThrows(IllegalArgumentException.class, () -> DcsJob.named("J").document(left, right));
    }

    /**
     * Kept records are written back after the record they followed: a file in the writer's order
     * comes back as it was.
     */
    @Test
    void keptRecordsStayWhereTheyStood() throws IOException {
        String file = String.join("\r\n", "REQ=FIL", "OMAV=3.07", "JOB=J7", "_A=1", "DEV=TR", "VEN=V", "SPH=-1.00;-1.25",
                "CYL=?;?", "FTYP=3", "ETYP=2;2", "_B=2", "TRCFMT=1;3;E;R;D", "R=2500;2400;2450", "ZFMT=1;3;E;R;D",
                "Z=1;2;3", "TRCFMT=1;3;E;L;D", "R=2500;2450;2400", "HBOX=50.00;50.00", "_C=3", "VBOX=30.00;30.00",
                "CIRC=?;?", "FCRV=4.00;4.00", "DBL=18.00", "_D=4", "DRILLE=R;C;20.00;3.00;1.40",
                "DRILLE=L;C;-20.00;3.00;1.40", "_E=5", "_F=6") + "\r\n";
        DcsDocument read = DcsParser.parse(file);
        assertEquals(file, DcsWriter.toString(read));
        assertEquals(List.of("_A=1"), read.recordsAfter("JOB").stream().map(Object::toString).toList());
        assertEquals(List.of("_E=5", "_F=6"), read.recordsAfter("DRILLE").stream().map(Object::toString).toList());

        // After a record that is not written again (DEV=?), they follow the one before it.
        String moved = DcsWriter.toString(DcsParser.parse("JOB=J8\r\nDEV=?\r\n_X=1\r\nFTYP=1\r\n"));
        assertEquals("JOB=J8\r\n_X=1\r\nFTYP=1\r\n", moved);
    }
}
