package jtzfuzz;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.HexFormat;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.stream.Stream;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsFormatException;
import jtrazelo.dcs.DcsParser;
import jtrazelo.dcs.DcsWriter;

/**
 * A seeded mutation fuzzer for the DCS reader.
 *
 * <p>Starts from seed files (the sample files, the kept corpus) and mutates them: byte flips,
 * truncations, line duplication, deletion and reordering, splices of two inputs, records and
 * tokens of the format, numbers replaced by huge, negative or malformed ones, and counts of trace
 * records replaced by huge ones, and now and then one line stretched to megabytes (a field, a
 * separator, spaces or NUL bytes repeated). Each input must be read into a document, which the writer writes
 * and the reader reads back equal, or be refused with {@link DcsFormatException} naming a line of
 * the input. Any other exception or error, an input that takes more than a few seconds, and an
 * input whose reading allocates more than its size explains (a count field believed) stop the run
 * and leave the input as {@code <artifacts>crash-<sha1>}. Run with a small heap ({@code -Xmx64m},
 * as tools/fuzz.sh does), a line that the reader holds or splits whole ends in
 * {@link OutOfMemoryError}, which breaks the first property; the long-line seeds, lines of several
 * megabytes of each kind the reader meets, are read first.
 *
 * <p>An input is kept in the corpus when its outcome shows a feature not seen before: the reason of
 * a refusal with its numbers and quoted text blanked out, or, of a document read, a kind of trace
 * or a label with a number of fields. Without coverage instrumentation this is what steers the
 * mutations towards new paths.
 *
 * <pre>
 * java -cp jtrazelo.jar:dcsfuzz.jar jtzfuzz.DcsFuzz --corpus DIR --seeds DIR... --artifacts PREFIX
 *      [--seconds N] [--runs N] [--seed N]
 * java -cp jtrazelo.jar:jtzfuzz.jar jtzfuzz.DcsFuzz --reduce DIR
 * </pre>
 *
 * <p>{@code --reduce} keeps of a corpus only the inputs that show a feature no smaller input shows,
 * and the regression inputs ({@code regression-*}); it deletes the others.
 */
public final class DcsFuzz {
    /** Allocation allowed per input: this much per character, plus a fixed allowance. */
    private static final long BYTES_PER_CHAR = 400;
    private static final long FIXED_BYTES = 4L << 20;
    /** An input running longer than this is a hang. */
    private static final long HANG_MILLIS = 5_000;
    /** Inputs grow no larger than this, but for a stretched line. */
    private static final int MAX_INPUT = 32 * 1024;
    /** A stretched line has this many characters at least: several times the longest line kept. */
    private static final int LONG_LINE = 6 << 20;
    /** What a stretched line repeats. */
    private static final String[] STRETCH = {"1234;", ";7", ";", " ", "x", "?;", "\u0000", "\u001a", "=", "\u00ff"};

    private static final String[] TOKENS = {";", "?", "=", "\r", "\n", "\r\n", "-", "+", ".", " ", "\t",
        "\u00ff", "\u0000", "\u001a", "\u00ef\u00bb\u00bf", "JOB=", "DEV=", "VEN=", "FTYP=", "ETYP=",
        "TRCFMT=", "R=", "A=", "HBOX=", "VBOX=", "CIRC=", "FCRV=", "DBL=", "DRILLE=", "ZZ=", "TRCFMT=1;",
        "TRCFMT=1;400;E;R;F\r\n", "TRCFMT=1;999999999;U;B;F\r\n", "TRCFMT=3;5;X;L;\r\n",
        "TRCFMT=4;2147483647;E;L;D\r\n", "A=1;2\r\n", "DRILLE=B;", "DRILLE=R;C;1;2;3\r\n", "HBOX=;;;\r\n",
        "R=?;-0;+1\r\n", ";;;;;;;;", "E", "U", "R", "L", "B", "F", "P", "D", "C"};
    private static final String[] NUMBERS = {"0", "-0", "1", "-1", "999999999", "2147483647",
        "2147483648", "-2147483648", "-2147483649", "9223372036854775807", "99999999999999999999999",
        "1e5", "1E309", "-1e-400", "NaN", "Infinity", "0x10", "1.", ".5", "1.2.3", "+-1", "00000001",
        "1" + "0".repeat(400), "0." + "0".repeat(400) + "1", "\u00b2", "?", ""};

    private static final Set<String> INTERPRETED = Set.of("JOB", "DEV", "VEN", "FTYP", "ETYP", "TRCFMT", "R",
            "A", "HBOX", "VBOX", "CIRC", "FCRV", "DBL", "DRILLE");

    private final Random random;
    private final List<String> pool = new ArrayList<>();
    private final Set<String> outcomes = new HashSet<>();
    private final Path corpus;
    private final String artifacts;
    private final com.sun.management.ThreadMXBean threads =
            (com.sun.management.ThreadMXBean) ManagementFactory.getThreadMXBean();

    private volatile String current = "";
    private volatile long startedAt;
    private volatile boolean running = true;
    private long runs;
    private int kept;

    private DcsFuzz(long seed, Path corpus, String artifacts) {
        this.random = new Random(seed);
        this.corpus = corpus;
        this.artifacts = artifacts;
    }

    public static void main(String[] args) throws Exception {
        Path corpus = null;
        List<Path> seeds = new ArrayList<>();
        String artifacts = "";
        long seconds = 60;
        long maxRuns = Long.MAX_VALUE;
        long seed = System.nanoTime();
        for (int i = 0; i < args.length; i += 2) {
            String value = i + 1 < args.length ? args[i + 1] : usage();
            switch (args[i]) {
                case "--corpus" -> corpus = Path.of(value);
                case "--seeds" -> seeds.add(Path.of(value));
                case "--artifacts" -> artifacts = value;
                case "--seconds" -> seconds = Long.parseLong(value);
                case "--runs" -> maxRuns = Long.parseLong(value);
                case "--seed" -> seed = Long.parseLong(value);
                case "--reduce" -> {
                    reduce(Path.of(value));
                    return;
                }
                default -> usage();
            }
        }
        if (corpus == null) {
            usage();
        }
        Files.createDirectories(corpus);
        System.out.println("dcs fuzz: seed " + seed);
        DcsFuzz fuzz = new DcsFuzz(seed, corpus, artifacts);
        System.exit(fuzz.run(seeds, seconds, maxRuns));
    }

    private static String usage() {
        System.err.println("usage: DcsFuzz --corpus DIR [--seeds DIR]... [--artifacts PREFIX]"
                + " [--seconds N] [--runs N] [--seed N]");
        System.exit(2);
        return null;
    }

    /** Keeps the smallest inputs that together show every feature of the corpus. */
    private static void reduce(Path dir) throws IOException {
        DcsFuzz fuzz = new DcsFuzz(0, dir, "");
        List<Path> files = new ArrayList<>(filesIn(dir));
        files.sort(java.util.Comparator.comparingLong((Path p) -> p.toFile().length()).thenComparing(Path::toString));
        int kept = 0;
        for (Path file : files) {
            int before = fuzz.outcomes.size();
            String text = new String(Files.readAllBytes(file), StandardCharsets.ISO_8859_1);
            if (!fuzz.check(text, file.toString())) {
                System.exit(1);
            }
            if (fuzz.outcomes.size() > before || file.getFileName().toString().startsWith("regression-")) {
                kept++;
            } else {
                Files.delete(file);
            }
        }
        fuzz.running = false;
        System.out.println("dcs fuzz: corpus reduced from " + files.size() + " to " + kept + " inputs, "
                + fuzz.outcomes.size() + " features");
    }

    private int run(List<Path> seedDirs, long seconds, long maxRuns) throws IOException, InterruptedException {
        Thread watchdog = new Thread(this::watch, "dcs-fuzz-watchdog");
        watchdog.setDaemon(true);
        watchdog.start();
        // Every seed and every kept input is run first, as it is: the regression cases.
        List<Path> files = new ArrayList<>();
        for (Path dir : seedDirs) {
            files.addAll(filesIn(dir));
        }
        files.addAll(filesIn(corpus));
        String[] longLines = {"TRCFMT=1;400;E;R;F\r\nR=", "TRCFMT=1;90;U;B;F\r\nR=1\r\nA=", "JOB=1\r\nDRILLE=R;C;1;2;3",
            "JOB=1\r\nZZVENDOR=", "JOB=1\r\nTRCFMT=4;9;E;R;F\r\n", "JOB=1\r\n", "JOB=1\r\nHBOX=50"};
        for (String start : longLines) {
            for (String unit : STRETCH) {
                String text = start + unit.repeat(LONG_LINE / unit.length()) + "\r\nDBL=1\r\n";
                if (!check(text, "long-line seed " + start.replace("\r\n", "|") + unit)) {
                    return 1;
                }
            }
        }
        for (Path file : files) {
            String text = new String(Files.readAllBytes(file), StandardCharsets.ISO_8859_1);
            pool.add(text);
            if (!check(text, file.toString())) {
                return 1;
            }
        }
        if (pool.isEmpty()) {
            pool.add("JOB=1\r\n");
        }
        System.out.println("dcs fuzz: " + files.size() + " seed inputs read, " + outcomes.size() + " outcomes");
        long end = System.nanoTime() + seconds * 1_000_000_000L;
        long started = System.nanoTime();
        long nextReport = started + 10_000_000_000L;
        while (runs < maxRuns && (maxRuns != Long.MAX_VALUE || System.nanoTime() < end)) {
            String text = mutate(pool.get(random.nextInt(pool.size())));
            if (!check(text, null)) {
                return 1;
            }
            if (System.nanoTime() > nextReport) {
                report(started);
                nextReport += 10_000_000_000L;
            }
        }
        running = false;
        report(started);
        System.out.println("Done " + runs + " runs");
        return 0;
    }

    private void report(long started) {
        double seconds = (System.nanoTime() - started) / 1e9;
        System.out.printf("dcs fuzz: %d runs in %.0f s (%.0f/s), corpus %d (%d new), %d outcomes%n", runs, seconds,
                runs / Math.max(seconds, 1e-9), pool.size(), kept, outcomes.size());
    }

    private static List<Path> filesIn(Path dir) throws IOException {
        if (!Files.isDirectory(dir)) {
            return List.of();
        }
        try (Stream<Path> s = Files.list(dir)) {
            return s.filter(Files::isRegularFile).sorted().toList();
        }
    }

    /** Reads one input and checks what came of it; false (and an artifact) when a property broke. */
    private boolean check(String text, String origin) {
        runs++;
        current = text;
        startedAt = System.nanoTime();
        List<String> outcome = new ArrayList<>();
        long before = threads.getCurrentThreadAllocatedBytes();
        try {
            DcsDocument document;
            try {
                document = DcsParser.parse(text);
            } finally {
                long used = threads.getCurrentThreadAllocatedBytes() - before;
                if (used > FIXED_BYTES + BYTES_PER_CHAR * text.length()) {
                    return broken(text, origin, used + " bytes allocated reading " + text.length() + " characters",
                            null);
                }
            }
            DcsDocument again = DcsParser.parse(DcsWriter.toBytes(document));
            if (!document.equals(again)) {
                return broken(text, origin, "the document read back differently:\n" + DcsWriter.toString(document),
                        null);
            }
            shape(document, outcome);
        } catch (DcsFormatException e) {
            long lines = text.chars().filter(c -> c == '\n' || c == '\r').count() + 1;
            if (e.lineNumber() < 1 || e.lineNumber() > lines || !e.getMessage().startsWith("line ")) {
                return broken(text, origin, "the refusal names no line of the input: " + e.getMessage(), e);
            }
            // What the reason quotes from the input is left out.
            outcome.add("refused " + e.reason().replaceAll("\".*", "").replaceAll("0x[0-9A-F]+", "#")
                    .replaceAll("[0-9]+", "#"));
        } catch (Throwable e) {
            return broken(text, origin, "not the reader's own exception: " + e, e);
        } finally {
            startedAt = 0;
        }
        boolean fresh = false;
        for (String feature : outcome) {
            fresh |= outcomes.add(feature);
        }
        if (fresh && origin == null) {
            keep(text);
        }
        return true;
    }

    /** Labels, field counts and trace kinds of a document: what tells one way through the reader from another. */
    private static void shape(DcsDocument document, List<String> s) {
        for (String line : DcsWriter.toString(document).split("\r\n")) {
            int equals = line.indexOf('=');
            String label = equals < 0 ? line : line.substring(0, equals);
            if (!INTERPRETED.contains(label)) {
                label = "other";
            }
            String fields = line.substring(equals + 1);
            int count = fields.isEmpty() ? 0 : fields.split(";", -1).length;
            if (label.equals("TRCFMT")) {
                // Format 1 or another, the number of fields, and whether the angles, the side and
                // the type are ones the reader knows.
                String[] f = fields.split(";", -1);
                String[] known = {"1", "#", "EU", "RLB", "FPD"};
                StringBuilder kind = new StringBuilder("TRCFMT " + Math.min(f.length, 7));
                for (int i = 0; i < Math.min(f.length, known.length); i++) {
                    boolean ok = i == 1 || (f[i].length() == 1 && known[i].contains(f[i])) || (i == 0 && f[0].equals("1"));
                    kind.append(' ').append(i == 1 ? "#" : ok ? f[i] : "?");
                }
                s.add(kind.toString());
            } else if (!label.equals("R") && !label.equals("A")) {
                s.add(label + ":" + Math.min(count, 6));
            }
        }
    }

    private void keep(String text) {
        pool.add(text);
        kept++;
        try {
            Files.write(corpus.resolve(sha1(text)), text.getBytes(StandardCharsets.ISO_8859_1));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private boolean broken(String text, String origin, String what, Throwable e) {
        running = false;
        String name = artifacts + "crash-" + sha1(text);
        try {
            Files.write(Path.of(name), text.getBytes(StandardCharsets.ISO_8859_1));
        } catch (IOException io) {
            System.err.println("dcs fuzz: could not write " + name + ": " + io);
        }
        System.err.println("dcs fuzz: PROPERTY BROKEN after " + runs + " runs"
                + (origin != null ? " by " + origin : "") + ": " + what);
        if (e != null) {
            e.printStackTrace();
        }
        System.err.println("dcs fuzz: input written to " + name);
        return false;
    }

    /** Stops the run when one input takes too long: the reader hangs. */
    private void watch() {
        while (running) {
            long at = startedAt;
            if (at != 0 && System.nanoTime() - at > HANG_MILLIS * 1_000_000L && at == startedAt) {
                broken(current, null, "reading took more than " + HANG_MILLIS + " ms", null);
                Runtime.getRuntime().halt(1);
            }
            try {
                Thread.sleep(250);
            } catch (InterruptedException e) {
                return;
            }
        }
    }

    private static String sha1(String text) {
        try {
            return HexFormat.of().formatHex(
                    MessageDigest.getInstance("SHA-1").digest(text.getBytes(StandardCharsets.ISO_8859_1)));
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    // ---- Mutations ----

    private String mutate(String text) {
        StringBuilder out = new StringBuilder(text);
        for (int edits = 1 + random.nextInt(random.nextInt(8) + 1); edits > 0; edits--) {
            switch (random.nextInt(12)) {
                case 0 -> flip(out);
                case 1 -> out.setLength(at(out));  // truncation
                case 2 -> {
                    int from = at(out);
                    out.delete(from, Math.min(out.length(), from + 1 + random.nextInt(40)));
                }
                case 3 -> out.insert(at(out), TOKENS[random.nextInt(TOKENS.length)]);
                case 4 -> duplicateLines(out);
                case 5 -> reorderLines(out);
                case 6 -> deleteLine(out);
                case 7 -> replaceNumber(out);
                case 8 -> replaceCount(out);
                case 9 -> splice(out);
                case 10 -> repeatRecord(out);
                default -> out.insert(at(out), (char) random.nextInt(256));
            }
        }
        if (out.length() > MAX_INPUT) {
            out.setLength(MAX_INPUT);
        }
        if (random.nextInt(64) == 0) {
            stretch(out);
        }
        return out.toString();
    }

    private int at(StringBuilder s) {
        return s.length() == 0 ? 0 : random.nextInt(s.length() + 1);
    }

    private void flip(StringBuilder s) {
        if (s.length() == 0) {
            return;
        }
        int i = random.nextInt(s.length());
        s.setCharAt(i, (char) ((s.charAt(i) ^ (1 << random.nextInt(8))) & 0xFF));
    }

    private static List<String> lines(StringBuilder s) {
        List<String> lines = new ArrayList<>();
        int from = 0;
        for (int i = 0; i < s.length(); i++) {
            if (s.charAt(i) == '\n') {
                lines.add(s.substring(from, i + 1));
                from = i + 1;
            }
        }
        if (from < s.length()) {
            lines.add(s.substring(from));
        }
        return lines;
    }

    private static void setLines(StringBuilder s, List<String> lines) {
        s.setLength(0);
        lines.forEach(s::append);
    }

    private void duplicateLines(StringBuilder s) {
        List<String> lines = lines(s);
        if (lines.isEmpty()) {
            return;
        }
        int from = random.nextInt(lines.size());
        int to = Math.min(lines.size(), from + 1 + random.nextInt(4));
        List<String> block = new ArrayList<>(lines.subList(from, to));
        lines.addAll(random.nextInt(lines.size() + 1), block);
        setLines(s, lines);
    }

    private void reorderLines(StringBuilder s) {
        List<String> lines = lines(s);
        if (lines.size() < 2) {
            return;
        }
        String line = lines.remove(random.nextInt(lines.size()));
        lines.add(random.nextInt(lines.size() + 1), line);
        setLines(s, lines);
    }

    private void deleteLine(StringBuilder s) {
        List<String> lines = lines(s);
        if (!lines.isEmpty()) {
            lines.remove(random.nextInt(lines.size()));
            setLines(s, lines);
        }
    }

    /** A record written many times over: a huge trace, or many of one record. */
    private void repeatRecord(StringBuilder s) {
        List<String> lines = lines(s);
        if (lines.isEmpty()) {
            return;
        }
        String line = lines.get(random.nextInt(lines.size()));
        int times = 1 + random.nextInt(random.nextBoolean() ? 10 : 500);
        StringBuilder block = new StringBuilder();
        for (int i = 0; i < times && block.length() < MAX_INPUT; i++) {
            block.append(line);
        }
        s.insert(lineStart(s, at(s)), block);
    }

    /** One line made megabytes long: a unit repeated somewhere in it. */
    private void stretch(StringBuilder s) {
        int at = at(s);
        while (at < s.length() && s.charAt(at) != '\r' && s.charAt(at) != '\n' && random.nextBoolean()) {
            at++;
        }
        String unit = STRETCH[random.nextInt(STRETCH.length)];
        s.insert(at, unit.repeat(LONG_LINE / unit.length()));
    }

    private static int lineStart(StringBuilder s, int at) {
        return at == 0 ? 0 : s.lastIndexOf("\n", at - 1) + 1;
    }

    /** A number in the text replaced by a huge, negative or malformed one. */
    private void replaceNumber(StringBuilder s) {
        int start = at(s);
        while (start < s.length() && !Character.isDigit(s.charAt(start))) {
            start++;
        }
        if (start >= s.length()) {
            return;
        }
        int end = start;
        while (end < s.length() && Character.isDigit(s.charAt(end))) {
            end++;
        }
        s.replace(start, end, NUMBERS[random.nextInt(NUMBERS.length)]);
    }

    /** The count of a TRCFMT record replaced: a count the records do not hold. */
    private void replaceCount(StringBuilder s) {
        int at = s.indexOf("TRCFMT=", random.nextInt(s.length() + 1));
        if (at < 0) {
            at = s.indexOf("TRCFMT=");
        }
        if (at < 0) {
            return;
        }
        int first = s.indexOf(";", at);
        if (first < 0) {
            return;
        }
        int second = first + 1;
        while (second < s.length() && s.charAt(second) != ';' && s.charAt(second) != '\r' && s.charAt(second) != '\n') {
            second++;
        }
        String[] counts = {"0", "1", "3", "999999", "2147483647", "2147483648", "-1", "400", "1000", "99999999999"};
        s.replace(first + 1, second, counts[random.nextInt(counts.length)]);
    }

    /** The head of this input and the tail of another. */
    private void splice(StringBuilder s) {
        String other = pool.get(random.nextInt(pool.size()));
        int cut = other.isEmpty() ? 0 : random.nextInt(other.length());
        s.setLength(at(s));
        s.append(other, cut, other.length());
    }
}
