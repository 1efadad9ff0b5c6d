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
import jtrazelo.dcs.DcsParser;
import jtrazelo.dcs.DcsSide;
import jtrazelo.dcs.DcsWriter;
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
        assertTrue(Arrays.asList(records).containsAll(List.of("TRCFMT=1;400;E;R;F", "TRCFMT=1;400;E;L;F")));
        int[] right = document.side(Eye.RIGHT).orElseThrow().radii();
        int[] left = document.side(Eye.LEFT).orElseThrow().radii();
        int n = right.length;
        for (int i = 0; i < n; i++) {
            assertEquals(right[Math.floorMod(n / 2 - i, n)], left[i], "point " + i);
        }
        assertEquals(List.of("DRILLE=R;19.50;4.00;1.40", "DRILLE=R;-19.25;3.50;1.60",
                "DRILLE=L;-19.50;4.00;1.40", "DRILLE=L;19.25;3.50;1.60"),
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
        "TRCFMT=1;3;E;R;F\\nR=1;2;3                          | 1 | first record must be JOB",
        "JOB=1\\nJOB=2                                          | 2 | second JOB",
        "JOB=1\\nR=1;2;3                                        | 2 | R record outside a trace",
        "JOB=1\\nTRCFMT=1;4;E;R;F\\nR=1;2;3\\nHBOX=1;2           | 2 | TRCFMT announced 4 radii for side R, the R records give 3",
        "JOB=1\\nTRCFMT=1;2;E;R;F\\nR=1;2;3                      | 3 | more radii than the 2",
        "JOB=1\\nTRCFMT=1;3;E;R;F\\nR=1;x;3                      | 3 | radius 2 of the record",
        "JOB=1\\nTRCFMT=2;3;E;R;F                                | 2 | format \"2\" is not supported",
        "JOB=1\\nTRCFMT=1;3;U;R;F                                | 2 | spacing \"U\"",
        "JOB=1\\nTRCFMT=1;3;E;B;F                                | 2 | side \"B\"",
        "JOB=1\\nTRCFMT=1;0;E;R;F                                | 2 | point count \"0\"",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nTRCFMT=1;1;E;R;F        | 4 | second trace for side R (the first is on line 2)",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nHBOX=50                 | 4 | HBOX needs 2 values",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nVBOX=a;b                | 4 | VBOX value \"a\" is not a number",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nDBL=1;2                 | 4 | DBL needs 1 value",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nDRILLE=R;1;2;0          | 4 | positive diameter",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nDRILLE=L;1;2;1          | 4 | side L, which has no trace",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nno equals sign          | 4 | not a LABEL=value record",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\nDBL=1\\nDBL=2           | 5 | second DBL record (the first is on line 4)",
        "JOB=1\\nTRCFMT=1;1;E;R;F\\nR=1\\tx                       | 3 | not printable ASCII",
        "JOB=1\\nDEV=a;b                                         | 2 | DEV must hold one value",
        "JOB=1\\nHBOX=1;2                                        | 2 | no TRCFMT record",
        "''                                                     | 1 | no JOB record",
    })
    void malformedInputIsRefusedNamingTheLine(String input, int line, String reason) {
        String file = input.replace("\\n", "\r\n").replace("\\t", "\t") + "\r\n";
        DcsFormatException e = assertThrows(DcsFormatException.class, () -> DcsParser.parse(file));
        assertEquals(line, e.lineNumber(), e.getMessage());
        assertTrue(e.getMessage().startsWith("line " + line + ": "), e.getMessage());
        assertTrue(e.reason().contains(reason), e.getMessage());
    }
}
