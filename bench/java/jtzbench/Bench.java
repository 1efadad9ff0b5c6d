package jtzbench;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * The benchmark harness: each suite runs in several JVM forks; in each fork every case is warmed
 * up and calibrated, then measured for several iterations taken in turn (case 1, case 2, ...,
 * case 1, ...), so that a slow phase of the machine falls on every case alike. The table gives the
 * median ns/op over all iterations of all forks and the spread. A ratio is computed for every
 * iteration from the cases of that iteration, which ran one after the other under the same
 * conditions; the table gives the median over all iterations and the range of the fork medians.
 *
 * <p>The default clock is CPU time, which leaves out the time other processes hold the cores of a
 * shared machine: the calling thread's for member calls (the component answers on that thread), the
 * whole process's for events (they are delivered on threads of their own while the caller waits).
 * {@code --clock wall} uses the wall clock.
 *
 * <p>The suite {@code runtimes} measures two member calls on the runtime library that ships and on
 * its test variant: its forks alternate between the process's own library path (the shipped
 * library) and the one given by {@code -Djtzbench.testLibraryPath} (the test variant first).
 *
 * <pre>
 * java -Djava.library.path=build/host/lib -Djtzbench.testLibraryPath=build/host/testlib:build/host/lib \
 *     -cp build/host/bench/jtrazelo_bench.jar:build/host/jtrazelo.jar \
 *     jtzbench.Bench [--forks 3] [--iterations 12] [--warmup-ms 300] [--target-ms 20] \
 *     [--suite all|members|apartments|events|dcs|runtimes|baseline] [--clock cpu|wall]
 * </pre>
 */
public final class Bench {
    private static final String CHILD = "--child";
    private static final String RUNTIMES = "runtimes";
    private static final String APARTMENTS = "apartments";
    private static final String BASELINE = "baseline";
    private static final long MS = 1_000_000L;

    private Bench() {}

    public static void main(String[] args) throws Exception {
        if (args.length > 0 && args[0].equals(CHILD)) {
            child(args[1], Integer.parseInt(args[2]), Long.parseLong(args[3]), Long.parseLong(args[4]),
                    args[5].equals("cpu"));
            return;
        }
        Options o = Options.parse(args);
        for (String suite : o.suites) {
            if (suite.equals(RUNTIMES)) {
                compareRuntimes(o);
            } else if (suite.equals(BASELINE)) {
                compareWithBaseline(o);
            } else {
                parent(suite, o);
            }
        }
    }

    // ---- In a fork ----

    private static void child(String suite, int iterations, long warmupMs, long targetMs, boolean cpu) {
        // Member calls run on the calling thread alone; events on threads of their own.
        // The apartments suite always on the wall clock: a single-threaded caller's calls run on
        // the runtime's thread.
        Probe.setClock(!cpu || suite.equals(APARTMENTS) ? Probe.WALL
                : suite.equals("events") ? Probe.PROCESS_CPU : Probe.THREAD_CPU);
        List<Case> cases = switch (suite) {
            case "members" -> new MemberSuite().cases();
            case APARTMENTS -> new ApartmentSuite().cases();
            case "events" -> new EventSuite().cases();
            case "dcs" -> new DcsSuite().cases();
            case RUNTIMES -> new RuntimeSuite().cases();
            default -> throw new IllegalArgumentException("unknown suite " + suite);
        };
        // -Djtzbench.only=<text>: only the cases whose name contains it (for a profiler).
        String only = System.getProperty("jtzbench.only");
        if (only != null) {
            cases = cases.stream().filter(c -> c.name().contains(only)).toList();
        }
        int[] n = new int[cases.size()];
        for (int c = 0; c < cases.size(); c++) {
            n[c] = calibrate(cases.get(c), warmupMs * MS, targetMs * MS);
            System.out.println("N\t" + cases.get(c).name() + "\t" + n[c]);
        }
        for (int it = 0; it < iterations; it++) {
            for (int c = 0; c < cases.size(); c++) {
                long elapsed = measure(cases.get(c), n[c]);
                System.out.printf(Locale.ROOT, "R\t%s\t%.3f%n", cases.get(c).name(), (double) elapsed / n[c]);
            }
        }
        System.out.flush();
    }

    // Warm-up: runs the case with a growing count for at least warmupNs; returns the count that
    // takes about targetNs.
    private static int calibrate(Case c, long warmupNs, long targetNs) {
        long end = System.nanoTime() + warmupNs;
        int n = 64;
        long elapsed;
        for (;;) {
            elapsed = Math.max(1, measure(c, n));
            boolean longEnough = elapsed >= targetNs / 4;
            if (longEnough && System.nanoTime() >= end) {
                break;
            }
            if (!longEnough && n < Integer.MAX_VALUE / 2) {
                n *= 2;
            }
        }
        return (int) Math.max(1, Math.min(Integer.MAX_VALUE, (double) n * targetNs / elapsed));
    }

    private static long measure(Case c, int n) {
        long elapsed = c.op().run(n);
        if (elapsed < 0) {
            throw new IllegalStateException(c.name() + ": the operation failed");
        }
        return elapsed;
    }

    // ---- The parent ----

    private static void parent(String suite, Options o) throws IOException, InterruptedException {
        List<Ratio> ratios = switch (suite) {
            case "members" -> MemberSuite.ratios();
            case APARTMENTS -> ApartmentSuite.ratios();
            case "events" -> EventSuite.ratios();
            default -> DcsSuite.ratios();
        };
        boolean perSecond = suite.equals("events");
        Map<String, List<Double>> all = new LinkedHashMap<>();
        Map<String, Integer> counts = new LinkedHashMap<>();
        List<Map<String, Double>> forkMedians = new ArrayList<>();
        // Per fork, per iteration: the cases of one iteration ran one after the other.
        List<List<Map<String, Double>>> forkIterations = new ArrayList<>();
        for (int f = 0; f < o.forks; f++) {
            Map<String, List<Double>> fork = runFork(suite, o, counts, System.getProperty("java.library.path"));
            Map<String, Double> medians = new LinkedHashMap<>();
            List<Map<String, Double>> iterations = new ArrayList<>();
            fork.forEach((name, samples) -> {
                medians.put(name, median(samples));
                all.computeIfAbsent(name, k -> new ArrayList<>()).addAll(samples);
                for (int it = 0; it < samples.size(); it++) {
                    if (iterations.size() <= it) {
                        iterations.add(new LinkedHashMap<>());
                    }
                    iterations.get(it).put(name, samples.get(it));
                }
            });
            forkMedians.add(medians);
            forkIterations.add(iterations);
        }

        String clock = !o.clock.equals("cpu") || suite.equals(APARTMENTS) ? "wall clock"
                : perSecond ? "CPU time of the process" : "CPU time of the calling thread";
        System.out.printf(Locale.ROOT, "%n== %s: %d forks x %d iterations, ns per %s (%s)%n", suite, o.forks,
                o.iterations, perSecond ? "event" : "call", clock);
        String header = String.format(Locale.ROOT, "%-34s %10s %21s %21s %10s", "case", "median",
                "fork medians", "min .. max", "ops/iter");
        System.out.println(perSecond ? header + String.format(Locale.ROOT, " %12s", "events/s") : header);
        for (Map.Entry<String, List<Double>> e : all.entrySet()) {
            String name = e.getKey();
            double med = median(e.getValue());
            double[] forks = forkMedians.stream().mapToDouble(m -> m.get(name)).toArray();
            String line = String.format(Locale.ROOT, "%-34s %10.1f %21s %21s %10d", name, med,
                    range(Arrays.stream(forks).min().orElse(0), Arrays.stream(forks).max().orElse(0)),
                    range(min(e.getValue()), max(e.getValue())), counts.get(name));
            System.out.println(perSecond ? line + String.format(Locale.ROOT, " %12.0f", 1e9 / med) : line);
        }

        System.out.printf(Locale.ROOT, "%n%-58s %8s %17s %6s %s%n", "ratio (per iteration)", "median",
                "fork medians", "goal", "");
        for (Ratio r : ratios) {
            List<Double> values = new ArrayList<>();
            List<Double> forks = new ArrayList<>();
            for (List<Map<String, Double>> iterations : forkIterations) {
                List<Double> fork = new ArrayList<>();
                for (Map<String, Double> m : iterations) {
                    fork.add(r.of().applyAsDouble(m));
                }
                values.addAll(fork);
                forks.add(median(fork));
            }
            double med = median(values);
            String verdict = "";
            if (!Double.isNaN(r.goal())) {
                verdict = med <= r.goal() ? "met" : "MISSED";
            }
            System.out.printf(Locale.ROOT, "%-58s %8.2f %17s %6s %s%n", r.name(), med,
                    String.format(Locale.ROOT, "%.2f .. %.2f", min(forks), max(forks)),
                    Double.isNaN(r.goal()) ? "-" : String.format(Locale.ROOT, "<=%.1f", r.goal()), verdict);
        }
    }

    // The runtime library that ships against its test variant: forks in turn on each library path;
    // per case the median ns/call of each and, per pair of forks run one after the other, the
    // ratio of their medians.
    private static void compareRuntimes(Options o) throws IOException, InterruptedException {
        String shippedPath = System.getProperty("java.library.path");
        String testPath = System.getProperty("jtzbench.testLibraryPath");
        if (testPath == null) {
            throw new IllegalArgumentException("the runtimes suite needs -Djtzbench.testLibraryPath");
        }
        String classPath = System.getProperty("java.class.path");
        compareForks(o, "runtime library: shipped (" + shippedPath + ") against the test variant ("
                + testPath + ")", "shipped", shippedPath, classPath, "test variant", testPath, classPath);
    }

    // The build under test against another build of the same sources' history (an earlier
    // commit's jtrazelo.jar and lib/, in the folder -Djtzbench.baseline names): the same member
    // calls in forks that alternate between the two, and per case the ratio now / baseline.
    private static void compareWithBaseline(Options o) throws IOException, InterruptedException {
        String baseline = System.getProperty("jtzbench.baseline");
        if (baseline == null) {
            throw new IllegalArgumentException("the baseline suite needs -Djtzbench.baseline=<folder>");
        }
        String classPath = System.getProperty("java.class.path");
        String benchJar = Arrays.stream(classPath.split(File.pathSeparator))
                .filter(e -> e.endsWith("jtrazelo_bench.jar")).findFirst()
                .orElseThrow(() -> new IllegalStateException("jtrazelo_bench.jar is not on the class path"));
        String baselineClassPath = benchJar + File.pathSeparator + baseline + File.separator + "jtrazelo.jar";
        String baselineLibrary = baseline + File.separator + "lib";
        compareForks(o, "this build against the baseline in " + baseline, "baseline", baselineLibrary,
                baselineClassPath, "this build", System.getProperty("java.library.path"), classPath);
    }

    // Forks in turn on the two (library path, class path) pairs, RuntimeSuite's cases in each; per
    // case the median ns/call of each and, per pair of forks run one after the other, the ratio b/a.
    private static void compareForks(Options o, String title, String labelA, String pathA, String cpA,
            String labelB, String pathB, String cpB) throws IOException, InterruptedException {
        Map<String, List<Double>> shipped = new LinkedHashMap<>();
        Map<String, List<Double>> testing = new LinkedHashMap<>();
        Map<String, List<Double>> ratios = new LinkedHashMap<>();
        Map<String, Integer> counts = new LinkedHashMap<>();
        for (int f = 0; f < o.forks; f++) {
            Map<String, List<Double>> a = runFork(RUNTIMES, o, counts, pathA, cpA);
            Map<String, List<Double>> b = runFork(RUNTIMES, o, counts, pathB, cpB);
            a.forEach((name, samples) -> {
                double ma = median(samples);
                double mb = median(b.get(name));
                shipped.computeIfAbsent(name, k -> new ArrayList<>()).add(ma);
                testing.computeIfAbsent(name, k -> new ArrayList<>()).add(mb);
                ratios.computeIfAbsent(name, k -> new ArrayList<>()).add(mb / ma);
            });
        }
        String clock = o.clock.equals("cpu") ? "CPU time of the calling thread" : "wall clock";
        System.out.printf(Locale.ROOT, "%n== %s,%n"
                + "   %d forks each, %d iterations, ns per call (%s); median and range of fork medians%n",
                title, o.forks, o.iterations, clock);
        System.out.printf(Locale.ROOT, "%-10s %14s %17s %14s %17s %14s %17s%n", "case", labelA, "fork medians",
                labelB, "fork medians", "ratio b/a", "fork pairs");
        for (String name : shipped.keySet()) {
            List<Double> a = shipped.get(name);
            List<Double> b = testing.get(name);
            List<Double> r = ratios.get(name);
            System.out.printf(Locale.ROOT, "%-10s %14.1f %17s %14.1f %17s %14.2f %17s%n", name, median(a),
                    range(min(a), max(a)), median(b), range(min(b), max(b)), median(r),
                    String.format(Locale.ROOT, "%.2f .. %.2f", min(r), max(r)));
        }
    }

    private static Map<String, List<Double>> runFork(String suite, Options o, Map<String, Integer> counts,
            String libraryPath) throws IOException, InterruptedException {
        return runFork(suite, o, counts, libraryPath, System.getProperty("java.class.path"));
    }

    private static Map<String, List<Double>> runFork(String suite, Options o, Map<String, Integer> counts,
            String libraryPath, String classPath) throws IOException, InterruptedException {
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        List<String> command = new ArrayList<>(List.of(java, "-Xms256m", "-Xmx256m", "-Djava.awt.headless=true",
                "-Djava.library.path=" + libraryPath,
                "-cp", classPath, Bench.class.getName(), CHILD, suite,
                Integer.toString(o.iterations), Long.toString(o.warmupMs), Long.toString(o.targetMs), o.clock));
        ProcessBuilder pb = new ProcessBuilder(command);
        pb.redirectError(ProcessBuilder.Redirect.INHERIT);
        Process p = pb.start();
        Map<String, List<Double>> samples = new LinkedHashMap<>();
        try (BufferedReader in = new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8))) {
            for (String line; (line = in.readLine()) != null; ) {
                String[] f = line.split("\t");
                if (f.length == 3 && f[0].equals("R")) {
                    samples.computeIfAbsent(f[1], k -> new ArrayList<>()).add(Double.parseDouble(f[2]));
                } else if (f.length == 3 && f[0].equals("N")) {
                    counts.merge(f[1], Integer.parseInt(f[2]), Math::min);
                } else {
                    System.err.println(line);
                }
            }
        }
        int status = p.waitFor();
        if (status != 0 || samples.isEmpty()) {
            throw new IllegalStateException("the " + suite + " fork ended with status " + status);
        }
        return samples;
    }

    private static String range(double lo, double hi) {
        return String.format(Locale.ROOT, "%.1f .. %.1f", lo, hi);
    }

    static double median(List<Double> values) {
        double[] v = values.stream().mapToDouble(Double::doubleValue).sorted().toArray();
        int mid = v.length / 2;
        return v.length % 2 == 1 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
    }

    private static double min(List<Double> v) {
        return v.stream().mapToDouble(Double::doubleValue).min().orElse(Double.NaN);
    }

    private static double max(List<Double> v) {
        return v.stream().mapToDouble(Double::doubleValue).max().orElse(Double.NaN);
    }

    private static final class Options {
        int forks = 3;
        int iterations = 12;
        long warmupMs = 300;
        long targetMs = 20;
        List<String> suites = List.of("members", APARTMENTS, "events", "dcs", RUNTIMES);
        String clock = "cpu";

        static Options parse(String[] args) {
            Options o = new Options();
            for (int i = 0; i < args.length; i++) {
                String value = i + 1 < args.length ? args[i + 1] : null;
                switch (args[i]) {
                    case "--forks" -> o.forks = Integer.parseInt(value);
                    case "--iterations" -> o.iterations = Integer.parseInt(value);
                    case "--warmup-ms" -> o.warmupMs = Long.parseLong(value);
                    case "--target-ms" -> o.targetMs = Long.parseLong(value);
                    case "--clock" -> o.clock = value;
                    case "--suite" -> o.suites = value.equals("all") ? o.suites : List.of(value);
                    default -> throw new IllegalArgumentException("unknown option " + args[i]);
                }
                i++;
            }
            if (o.forks < 1 || o.iterations < 1) {
                throw new IllegalArgumentException("--forks and --iterations must be at least 1");
            }
            if (!o.clock.equals("cpu") && !o.clock.equals("wall")) {
                throw new IllegalArgumentException("--clock is cpu or wall");
            }
            return o;
        }
    }
}
