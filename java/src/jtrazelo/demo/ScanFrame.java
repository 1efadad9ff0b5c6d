package jtrazelo.demo;

import ezjcom.JComException;
import java.io.Console;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsJob;
import jtrazelo.dcs.DcsWriter;
import jtrazelo.dcs.EdgeType;
import jtrazelo.dcs.FrameType;
import jtrazelo.dcs.OutputFiles;
import jtrazelo.svg.SvgWriter;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;
import jtrazelo.tracer.ProgressListener;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerException;
import jtrazelo.tracer.TracerSettings;
import puente.IScanMontura;
import puente.IScanMonturaEvents;
import puente.ScanMontura;

/**
 * Traces a frame with the ScanMontura component and writes the job as a DCS file and an SVG
 * picture named after the job. The output files are checked before the scan and written all or
 * nothing ({@link OutputFiles}); what the program made is removed again when it fails or is stopped
 * by a signal. Exit status: 0 done, 1 the device or the scan failed, 2 bad
 * command line, 3 the output could not be written.
 */
public final class ScanFrame {
    /** Largest difference, mm, between recomputed and reported figures that counts as consistent. */
    static final double CONSISTENCY_TOLERANCE = 0.1;

    /** Exit status: the output could not be written (nothing of it is left). */
    static final int EXIT_OUTPUT = 3;

    private static final String DEFAULT_DEVICE = "ScanMontura";

    private static final String USAGE = String.join("\n",
            "Usage: scan [options]",
            "Traces an eyeglass frame with the ScanMontura component and writes the job as a DCS",
            "file and an SVG picture, named after the job.",
            "",
            "Options:",
            "  --port N         communications port of the tracer (default " + TracerSettings.DEFAULT_PORT + ")",
            "  --speed N        scanning speed (default " + TracerSettings.DEFAULT_SPEED + ")",
            "  --mode N         scan mode (default " + TracerSettings.DEFAULT_SCAN_MODE + ")",
            "  --eye R|L|B      eye to trace: right, left, or both one after the other (default R);",
            "                   with one eye traced, the other is its mirror image",
            "  --job NAME       job name: letters, digits, '.', '-', '_' (default JTZ<date><time>,",
            "                   with -2, -3... added when files of that name exist)",
            "  --out DIR        folder for the output files (default scan-output/ in the working",
            "                   directory)",
            "  --dcs FILE       DCS file to write (default DIR/<job>.dcs)",
            "  --svg FILE       SVG picture to write (default DIR/<job>.svg)",
            "  --overwrite      replace output files that exist (default: refuse, before scanning)",
            "  --device NAME    device name in the DCS file, DEV (default " + DEFAULT_DEVICE + ")",
            "  --vendor NAME    vendor name in the DCS file, VEN (default: the device name)",
            "  --frame-type T   undefined, plastic, metal, rimless or optyl, or the code 0 to 4",
            "                   (default: rimless when the frame has drill holes, else not written)",
            "  --edge-type T    uncut, bevel, rimless, groove or mini-bevel, or the code -1 to 4",
            "                   (default: rimless for a rimless frame, else not written)",
            "  --trace-type T   F frame, P pattern or D demo lens (default: D for a rimless frame,",
            "                   else F)",
            "  --help           show this help",
            "",
            "The SVG shows both lenses seen from the front (the right lens on the left), with nasal",
            "and temporal sides marked. Both files are written under temporary names in their",
            "folder and renamed into place when complete, the DCS file last; when either fails,",
            "neither is left.",
            "",
            "Exit status: 0 done, 1 the device or the scan failed, 2 bad command line, 3 the output",
            "could not be written.");

    private final PrintStream out;
    private final PrintStream err;

    private ScanFrame(PrintStream out, PrintStream err) {
        this.out = out;
        this.err = err;
    }

    /**
     * Runs the program and exits with its status.
     *
     * @param args the command line
     */
    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    /**
     * Runs the program.
     *
     * @param args the command line
     * @param out where the report goes
     * @param err where errors and the usage go
     * @return the exit status
     */
    public static int run(String[] args, PrintStream out, PrintStream err) {
        Options options;
        try {
            options = Options.parse(args);
        } catch (IllegalArgumentException e) {
            err.println("scan: " + e.getMessage());
            err.println(USAGE);
            return 2;
        }
        if (options.help) {
            out.println(USAGE);
            return 0;
        }
        return new ScanFrame(out, err).run(options);
    }

    /** The parsed command line. */
    static final class Options {
        boolean help;
        TracerSettings settings;
        boolean bothEyes;
        String job;
        Path outDir = Paths.get("scan-output");
        Path dcs;
        Path svg;
        boolean overwrite;
        String device = DEFAULT_DEVICE;
        String vendor;
        FrameType frameType;
        EdgeType edgeType;
        String traceType;

        static Options parse(String[] args) {
            Options options = new Options();
            TracerSettings.Builder settings = TracerSettings.builder();
            for (int i = 0; i < args.length; i++) {
                String arg = args[i];
                String name = arg;
                String value = null;
                int equals = arg.indexOf('=');
                if (arg.startsWith("--") && equals > 0) {
                    name = arg.substring(0, equals);
                    value = arg.substring(equals + 1);
                }
                switch (name) {
                    case "--help", "-h", "--overwrite" -> {
                        if (value != null) {
                            throw new IllegalArgumentException(name + " takes no value");
                        }
                        if (name.equals("--overwrite")) {
                            options.overwrite = true;
                        } else {
                            options.help = true;
                        }
                    }
                    case "--port", "--speed", "--mode", "--eye", "--job", "--out", "--dcs", "--svg", "--device",
                            "--vendor", "--frame-type", "--edge-type", "--trace-type" -> {
                        if (value == null) {
                            if (i + 1 >= args.length) {
                                throw new IllegalArgumentException(name + " needs a value");
                            }
                            value = args[++i];
                        }
                        apply(options, settings, name, value);
                    }
                    default -> throw new IllegalArgumentException("unknown option " + arg);
                }
            }
            try {
                options.settings = settings.build();
            } catch (IllegalArgumentException e) {
                throw new IllegalArgumentException("bad setting: " + e.getMessage(), e);
            }
            if (options.dcs != null && options.svg != null
                    && options.dcs.toAbsolutePath().normalize().equals(options.svg.toAbsolutePath().normalize())) {
                throw new IllegalArgumentException("--dcs and --svg name the same file");
            }
            return options;
        }

        private static void apply(Options options, TracerSettings.Builder settings, String name, String value) {
            switch (name) {
                case "--port" -> settings.port(number(name, value));
                case "--speed" -> settings.speed(number(name, value));
                case "--mode" -> settings.scanMode(number(name, value));
                case "--eye" -> {
                    if (value.equalsIgnoreCase("B")) {
                        options.bothEyes = true;
                        settings.eye(Eye.RIGHT);
                    } else if (value.equalsIgnoreCase("R") || value.equalsIgnoreCase("L")) {
                        options.bothEyes = false;
                        settings.eye(Eye.fromLetter(value.charAt(0)));
                    } else {
                        throw new IllegalArgumentException("--eye must be R, L or B, not \"" + value + "\"");
                    }
                }
                case "--job" -> {
                    try {
                        OutputFiles.checkJobName(value);
                    } catch (IllegalArgumentException e) {
                        throw new IllegalArgumentException("--job " + e.getMessage(), e);
                    }
                    options.job = value;
                }
                case "--out" -> options.outDir = path(name, value);
                case "--dcs" -> options.dcs = path(name, value);
                case "--svg" -> options.svg = path(name, value);
                case "--device" -> options.device = text(name, value);
                case "--vendor" -> options.vendor = text(name, value);
                case "--frame-type" -> options.frameType = choice(name, value, FrameType.values(),
                        FrameType::label, FrameType::code);
                case "--edge-type" -> options.edgeType = choice(name, value, EdgeType.values(),
                        EdgeType::label, EdgeType::code);
                default -> {
                    String type = value.toUpperCase(Locale.ROOT);
                    if (!type.equals("F") && !type.equals("P") && !type.equals("D")) {
                        throw new IllegalArgumentException("--trace-type must be F, P or D, not \"" + value + "\"");
                    }
                    options.traceType = type;
                }
            }
        }

        private static <T> T choice(String name, String value, T[] values, java.util.function.Function<T, String> label,
                java.util.function.ToIntFunction<T> code) {
            List<String> names = new ArrayList<>();
            for (T candidate : values) {
                if (label.apply(candidate).equalsIgnoreCase(value)
                        || String.valueOf(code.applyAsInt(candidate)).equals(value.trim())) {
                    return candidate;
                }
                names.add(label.apply(candidate) + " (" + code.applyAsInt(candidate) + ")");
            }
            throw new IllegalArgumentException(name + " must be one of " + String.join(", ", names) + ", not \""
                    + value + "\"");
        }

        private static String text(String name, String value) {
            boolean printable = value.chars().allMatch(c -> c >= 0x20 && c <= 0x7E && c != ';');
            if (value.isEmpty() || value.equals("?") || !printable) {
                throw new IllegalArgumentException(name + " must be printable ASCII without ';', not \"" + value
                        + "\"");
            }
            return value;
        }

        private static int number(String name, String value) {
            try {
                return Integer.parseInt(value.trim());
            } catch (NumberFormatException e) {
                throw new IllegalArgumentException(name + " needs a whole number, not \"" + value + "\"", e);
            }
        }

        private static Path path(String name, String value) {
            if (value.isEmpty()) {
                throw new IllegalArgumentException(name + " needs a file or folder name");
            }
            try {
                return Paths.get(value);
            } catch (RuntimeException e) {
                throw new IllegalArgumentException(name + ": bad path \"" + value + "\"", e);
            }
        }
    }

    private int run(Options options) {
        String job = options.job != null ? options.job : freeJobName(options);
        Path dcs = options.dcs != null ? options.dcs : options.outDir.resolve(job + ".dcs");
        Path svg = options.svg != null ? options.svg : options.outDir.resolve(job + ".svg");
        if (dcs.toAbsolutePath().normalize().equals(svg.toAbsolutePath().normalize())) {
            err.println("scan: the DCS file and the SVG picture would be the same file, " + dcs);
            return 2;
        }
        try (OutputFiles files = new OutputFiles(options.overwrite)) {
            try {
                files.check(svg);
                files.check(dcs);
            } catch (IOException e) {
                err.println("scan: output: " + e.getMessage() + "; nothing was scanned");
                return EXIT_OUTPUT;
            }
            List<FrameTrace> traces = new ArrayList<>();
            int status = scan(options, traces);
            if (status != 0) {
                return status;
            }
            for (FrameTrace trace : traces) {
                report(trace);
            }
            FrameTrace first = traces.get(0);
            FrameTrace other = traces.size() > 1 ? traces.get(1) : first.mirror();
            FrameTrace right = first.eye() == Eye.RIGHT ? first : other;
            FrameTrace left = first.eye() == Eye.RIGHT ? other : first;
            try {
                DcsDocument document = DcsJob.named(job).device(options.device)
                        .vendor(options.vendor != null ? options.vendor : options.device)
                        .frameType(options.frameType).edgeType(options.edgeType).traceType(options.traceType)
                        .document(right, left);
                files.add(svg, SvgWriter.toSvg(right, left, job).getBytes(StandardCharsets.UTF_8));
                files.add(dcs, DcsWriter.toBytes(document));
                files.publish();
            } catch (IOException e) {
                err.println("scan: output: " + e.getMessage());
                return EXIT_OUTPUT;
            } catch (IllegalArgumentException e) {
                err.println("scan: the trace cannot be written as a job: " + e.getMessage());
                return 1;
            }
            String eyes = traces.size() > 1 ? "both eyes traced"
                    : "both eyes: " + eyeName(traces.get(0).eye()) + " traced, " + eyeName(traces.get(0).eye().other())
                            + " mirrored";
            out.println("Output folder " + dcs.toAbsolutePath().normalize().getParent());
            out.println("  DCS file  " + dcs + " (job " + job + ", " + eyes + ")");
            out.println("  SVG file  " + svg + " (both lenses, seen from the front)");
            return 0;
        }
    }

    /** JTZ and the time, with -2, -3... when output files of that name exist in the folder. */
    private static String freeJobName(Options options) {
        String base = "JTZ" + LocalDateTime.now().format(DateTimeFormatter.ofPattern("yyyyMMddHHmmss"));
        String job = base;
        for (int n = 2; n < 1000 && taken(options, job); n++) {
            job = base + "-" + n;
        }
        return job;
    }

    private static boolean taken(Options options, String job) {
        return (options.dcs == null && Files.exists(options.outDir.resolve(job + ".dcs")))
                || (options.svg == null && Files.exists(options.outDir.resolve(job + ".svg")));
    }

    /** Traces the eye, or both eyes one after the other; returns 0, or the exit status of a failure. */
    private int scan(Options options, List<FrameTrace> traces) {
        String step = "loading the bridge library";
        try {
            out.println("ScanMontura component " + ScanMontura.__JComGetGUID());
            step = "creating the component";
            ScanMontura component = ScanMontura.create();
            step = "binding IScanMontura";
            IScanMontura dispatch = component.dispatch();
            step = "binding IScanMonturaEvents";
            IScanMonturaEvents events = component.events();
            if (dispatch.isBound() && events.isBound()) {
                out.println("Bound IScanMontura and IScanMonturaEvents");
            }
            List<Eye> eyes = options.bothEyes ? List.of(Eye.RIGHT, Eye.LEFT) : List.of(options.settings.eye());
            for (Eye eye : eyes) {
                TracerSettings settings = options.settings.toBuilder().eye(eye).build();
                step = "opening the tracer";
                try (Tracer tracer = Tracer.open(settings, component)) {
                    out.println("Event listener registered (cookie " + tracer.listenerCookie() + ")");
                    out.printf(Locale.ROOT, "Port %d open, speed %d, scan mode %d, %s eye; tracer calibrated%n",
                            settings.port(), settings.speed(), settings.scanMode(), eyeName(eye));
                    step = "scanning";
                    traces.add(tracer.scan(progress()));
                    step = "closing the device";
                }
                out.println("Device closed.");
            }
            return 0;
        } catch (TracerException e) {
            if (e.isDeviceError()) {
                err.println("scan: device error: " + e.getMessage());
            } else {
                err.println("scan: " + e.getMessage());
            }
            return 1;
        } catch (JComException e) {
            err.printf(Locale.ROOT, "scan: device error while %s: %s (HRESULT 0x%08X)%n", step,
                    e.getDescription() == null ? "no description" : e.getDescription(), e.getHResult());
            return 1;
        } catch (UnsatisfiedLinkError e) {
            err.println("scan: " + step + " failed: native library not found (" + e.getMessage()
                    + "); set -Djava.library.path to the folder of libJTrazelo");
            return 1;
        } catch (RuntimeException | LinkageError e) {
            err.println("scan: " + step + " failed: " + e);
            return 1;
        }
    }

    /**
     * Progress: on a terminal one line redrawn in place; to a file or pipe one line per ten percent,
     * each said once. The component's text is shown when it says more than the percentage.
     */
    private ProgressListener progress() {
        if (out == System.out && isTerminal(System.console())) {
            return new ProgressListener() {
                @Override
                public void progress(int percent, String message) {
                    int filled = percent * 30 / 100;
                    out.printf(Locale.ROOT, "\rScanning [%s%s] %3d%%  %-24s", "#".repeat(filled),
                            " ".repeat(30 - filled), percent, news(percent, message));
                    if (percent == 100) {
                        out.println();
                    }
                    out.flush();
                }
            };
        }
        return new ProgressListener() {
            private int shown = -1;

            @Override
            public void progress(int percent, String message) {
                int step = percent / 10;
                // Steps passed between two reports (a busy machine polls the device late) are
                // said too: each ten percent once, in order.
                while (shown + 1 < step) {
                    shown++;
                    out.printf(Locale.ROOT, "Scanning %3d%%%n", shown * 10);
                }
                if (step > shown) {
                    shown = step;
                    String more = news(percent, message);
                    out.printf(Locale.ROOT, "Scanning %3d%%%s%n", percent, more.isEmpty() ? "" : "  " + more);
                }
            }
        };
    }

    /** The component's text, or nothing when it only says the percentage again ("Scanning 10%"). */
    private static String news(int percent, String message) {
        return message.isBlank() || message.contains(percent + "%") ? "" : message.strip();
    }

    /** A console is a terminal unless the runtime says otherwise (Console.isTerminal, Java 22). */
    private static boolean isTerminal(Console console) {
        if (console == null) {
            return false;
        }
        try {
            Method method = Console.class.getMethod("isTerminal");
            return Boolean.TRUE.equals(method.invoke(console));
        } catch (ReflectiveOperationException e) {
            return true;  // before Java 22 a console exists only for a terminal
        }
    }

    private void report(FrameTrace trace) {
        out.println();
        out.printf(Locale.ROOT, "Frame trace, %s eye%n", eyeName(trace.eye()));
        out.printf(Locale.ROOT, "  Box width                 %7.2f mm%n", trace.boxWidth());
        out.printf(Locale.ROOT, "  Box height                %7.2f mm%n", trace.boxHeight());
        out.printf(Locale.ROOT, "  DBL                       %7.2f mm%n", trace.dbl());
        out.printf(Locale.ROOT, "  Distance between centres  %7.2f mm%n", trace.distanceBetweenCentres());
        out.printf(Locale.ROOT, "  Base curve                %7.2f D%n", trace.baseCurve());
        out.printf(Locale.ROOT, "  Perimeter                 %7.2f mm%n", trace.perimeter());
        if (trace.drillHoles().isEmpty()) {
            out.println("  Drill holes                  none");
        } else {
            out.printf(Locale.ROOT, "  Drill holes               %7d%n", trace.drillHoles().size());
            for (DrillHole hole : trace.drillHoles()) {
                out.printf(Locale.ROOT, "    at x %6.2f, y %6.2f mm (%s), diameter %.2f mm%n", hole.x(), hole.y(),
                        hole.x() * trace.nasalDirection() > 0 ? "nasal" : "temporal", hole.diameter());
            }
        }
        out.printf(Locale.ROOT, "  Trace points              %7d%n", trace.pointCount());

        FrameTrace.Box box = trace.computedBox();
        double perimeterDiff = hundredths(trace.computedPerimeter() - trace.perimeter());
        double widthDiff = hundredths(box.width() - trace.boxWidth());
        double heightDiff = hundredths(box.height() - trace.boxHeight());
        boolean consistent = Math.abs(perimeterDiff) <= CONSISTENCY_TOLERANCE
                && Math.abs(widthDiff) <= CONSISTENCY_TOLERANCE
                && Math.abs(heightDiff) <= CONSISTENCY_TOLERANCE;
        out.printf(Locale.ROOT,
                "  Consistency: from the trace perimeter %.2f mm (%+.2f), box %.2f x %.2f mm (%+.2f, %+.2f): %s%n",
                trace.computedPerimeter(), perimeterDiff, box.width(), box.height(), widthDiff, heightDiff,
                consistent ? "consistent" : "NOT consistent (more than " + CONSISTENCY_TOLERANCE + " mm apart)");
        out.println();
    }

    /** Rounds to 1/100 (so that a tiny negative difference does not print as -0.00). */
    private static double hundredths(double value) {
        return Math.round(value * 100) / 100.0 + 0.0;
    }

    private static String eyeName(Eye eye) {
        return eye == Eye.RIGHT ? "right" : "left";
    }
}
