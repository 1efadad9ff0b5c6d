package jtzbench;

import java.nio.charset.StandardCharsets;
import java.util.List;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsFormatException;
import jtrazelo.dcs.DcsJob;
import jtrazelo.dcs.DcsParser;
import jtrazelo.dcs.DcsWriter;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * The DCS reader and writer on jobs of both eyes with drill holes, at 1000 and 8000 points a trace:
 * reading should take time in proportion to the file, so the larger job should cost eight times
 * the smaller one. The baseline is splitting the same text into its lines.
 */
final class DcsSuite {
    static final String READ_1000 = "read, 2 x 1000 points";
    static final String READ_8000 = "read, 2 x 8000 points";
    static final String WRITE_1000 = "write, 2 x 1000 points";
    static final String SPLIT_1000 = "split into lines, 2 x 1000 points";

    private static final long WARM_UP_NANOS = 3_000_000_000L;

    private final byte[] small = job(1000);
    private final byte[] large = job(8000);
    private final DcsDocument smallDocument;
    private long sink;

    DcsSuite() {
        try {
            smallDocument = DcsParser.parse(small);
        } catch (DcsFormatException e) {
            throw new IllegalStateException(e);
        }
        if (DcsWriter.toBytes(smallDocument).length != small.length) {
            throw new IllegalStateException("the job does not write back the same");
        }
        // The reader's methods are large: on a loaded machine the JIT needs seconds more than the
        // harness's warm-up to compile them, and the first iterations would time the interpreter.
        long end = System.nanoTime() + WARM_UP_NANOS;
        while (System.nanoTime() < end) {
            read(large, 1);
            sink += DcsWriter.toBytes(smallDocument).length;
        }
    }

    /** A drilled job of an oval frame traced at {@code points} points, the other eye mirrored. */
    private static byte[] job(int points) {
        double[] radii = new double[points];
        for (int i = 0; i < points; i++) {
            double t = 2 * Math.PI * i / points;
            radii[i] = Math.round(100 / Math.hypot(Math.cos(t) / 25, Math.sin(t) / 18)) / 100.0;
        }
        FrameTrace trace = new FrameTrace(Eye.RIGHT, radii, 50, 36, 18, 68, 4.5, 136.8,
                List.of(new DrillHole(22.5, 4, 1.4), new DrillHole(-22.5, 4, 1.4)));
        return DcsWriter.toBytes(DcsJob.named("B" + points).device("ScanMontura").document(trace));
    }

    List<Case> cases() {
        return List.of(
                new Case(READ_1000, n -> read(small, n)),
                new Case(READ_8000, n -> read(large, n)),
                new Case(WRITE_1000, n -> {
                    long start = Probe.now();
                    for (int i = 0; i < n; i++) {
                        sink += DcsWriter.toBytes(smallDocument).length;
                    }
                    return Probe.now() - start;
                }),
                new Case(SPLIT_1000, n -> {
                    long start = Probe.now();
                    for (int i = 0; i < n; i++) {
                        sink += new String(small, StandardCharsets.ISO_8859_1).split("\r\n").length;
                    }
                    return Probe.now() - start;
                }));
    }

    private long read(byte[] file, int n) {
        long start = Probe.now();
        try {
            for (int i = 0; i < n; i++) {
                sink += DcsParser.parse(file).traces().size();
            }
        } catch (DcsFormatException e) {
            return -1;
        }
        return Probe.now() - start;
    }

    static List<Ratio> ratios() {
        return List.of(
                new Ratio(READ_8000 + " / 1000 points (8 if linear)", Double.NaN,
                        m -> m.get(READ_8000) / m.get(READ_1000)),
                new Ratio("read / split into lines, 2 x 1000 points", Double.NaN,
                        m -> m.get(READ_1000) / m.get(SPLIT_1000)),
                new Ratio("write / read, 2 x 1000 points", Double.NaN,
                        m -> m.get(WRITE_1000) / m.get(READ_1000)));
    }
}
