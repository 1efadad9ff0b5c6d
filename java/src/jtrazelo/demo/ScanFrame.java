package jtrazelo.demo;

import ezjcom.JComException;
import java.io.Console;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.Locale;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsWriter;
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
 * Traces one frame with the ScanMontura component and writes the trace as a DCS file and an SVG
 * picture. Exit status: 0 done, 1 the device or another step failed, 2 bad command line.
 */
public final class ScanFrame {
    /** Largest difference, mm, between recomputed and reported figures that counts as consistent. */
    static final double CONSISTENCY_TOLERANCE = 0.1;

    private static final String USAGE = String.join("\n",
            "Usage: scan [options]",
            "Traces an eyeglass frame with the ScanMontura component and writes the trace",
            "as a DCS file and an SVG picture.",
            "",
            "Options:",
            "  --port N     communications port of the tracer (default " + TracerSettings.DEFAULT_PORT + ")",
            "  --speed N    scanning speed (default " + TracerSettings.DEFAULT_SPEED + ")",
            "  --mode N     scan mode (default " + TracerSettings.DEFAULT_SCAN_MODE + ")",
            "  --eye R|L    eye to trace, right or left (default R)",
            "  --out DIR    folder for the output files (default scan-output/ in the working",
            "               directory)",
            "  --dcs FILE   DCS file to write (default DIR/frame.dcs)",
            "  --svg FILE   SVG picture to write (default DIR/frame.svg)",
            "  --help       show this help",
            "",
            "Exit status: 0 done, 1 the device or another step failed, 2 bad command line.");

    private final PrintStream out;
    private final PrintStream err;

    private ScanFrame(PrintStream out, PrintStream err) {
        this.out = out;
        this.err = err;
    }

    /** Runs the program and exits with its status. */
    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    /** Runs the program; returns its exit status. */
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
        return new ScanFrame(out, err).scan(options);
    }

    /** The parsed command line. */
    static final class Options {
        boolean help;
        TracerSettings settings;
        Path outDir = Paths.get("scan-output");
        Path dcs;
        Path svg;

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
                    case "--help":
                    case "-h":
                        if (value != null) {
                            throw new IllegalArgumentException("--help takes no value");
                        }
                        options.help = true;
                        break;
                    case "--port":
                    case "--speed":
                    case "--mode":
                    case "--eye":
                    case "--out":
                    case "--dcs":
                    case "--svg":
                        if (value == null) {
                            if (i + 1 >= args.length) {
                                throw new IllegalArgumentException(name + " needs a value");
                            }
                            value = args[++i];
                        }
                        apply(options, settings, name, value);
                        break;
                    default:
                        throw new IllegalArgumentException("unknown option " + arg);
                }
            }
            try {
                options.settings = settings.build();
            } catch (IllegalArgumentException e) {
                throw new IllegalArgumentException("bad setting: " + e.getMessage(), e);
            }
            if (options.dcs == null) {
                options.dcs = options.outDir.resolve("frame.dcs");
            }
            if (options.svg == null) {
                options.svg = options.outDir.resolve("frame.svg");
            }
            return options;
        }

        private static void apply(Options options, TracerSettings.Builder settings, String name, String value) {
            switch (name) {
                case "--port":
                    settings.port(number(name, value));
                    break;
                case "--speed":
                    settings.speed(number(name, value));
                    break;
                case "--mode":
                    settings.scanMode(number(name, value));
                    break;
                case "--eye":
                    if (!value.equalsIgnoreCase("R") && !value.equalsIgnoreCase("L")) {
                        throw new IllegalArgumentException("--eye must be R or L, not \"" + value + "\"");
                    }
                    settings.eye(Eye.fromLetter(value.charAt(0)));
                    break;
                case "--out":
                    options.outDir = path(name, value);
                    break;
                case "--dcs":
                    options.dcs = path(name, value);
                    break;
                default:
                    options.svg = path(name, value);
                    break;
            }
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

    private int scan(Options options) {
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

            TracerSettings settings = options.settings;
            step = "opening the tracer";
            try (Tracer tracer = Tracer.open(settings, component)) {
                out.println("Event listener registered (cookie " + tracer.listenerCookie() + ")");
                out.printf(Locale.ROOT, "Port %d open, speed %d, scan mode %d, %s eye; tracer calibrated%n",
                        settings.port(), settings.speed(), settings.scanMode(), eyeName(settings.eye()));
                step = "scanning";
                FrameTrace trace = tracer.scan(progress());
                report(trace);
                step = "writing the output files";
                writeFiles(trace, options);
                step = "closing the device";
            }
            out.println("Device closed.");
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
        } catch (IOException e) {
            err.println("scan: " + e.getMessage());
            return 1;
        } catch (RuntimeException | LinkageError e) {
            err.println("scan: " + step + " failed: " + e);
            return 1;
        }
    }

    private ProgressListener progress() {
        Console console = System.console();
        if (console != null && out == System.out) {
            return new ProgressListener() {
                @Override
                public void progress(int percent, String message) {
                    int filled = percent * 30 / 100;
                    out.printf(Locale.ROOT, "\rScanning [%s%s] %3d%%  %-24s", "#".repeat(filled),
                            " ".repeat(30 - filled), percent, message);
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
                if (percent / 10 > shown / 10 || shown < 0) {
                    shown = percent;
                    out.printf(Locale.ROOT, "Scanning %3d%%  %s%n", percent, message);
                }
            }
        };
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
                out.printf(Locale.ROOT, "    at x %6.2f, y %6.2f mm, diameter %.2f mm%n",
                        hole.x(), hole.y(), hole.diameter());
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

    private void writeFiles(FrameTrace trace, Options options) throws IOException {
        String job = "JTZ" + LocalDateTime.now().format(DateTimeFormatter.ofPattern("yyyyMMddHHmmss"));
        try {
            createParent(options.dcs);
            DcsWriter.write(DcsDocument.fromTrace(trace, job, "ScanMontura"), options.dcs);
        } catch (IOException e) {
            throw new IOException("could not write the DCS file " + options.dcs + " (" + e + ")", e);
        }
        try {
            createParent(options.svg);
            SvgWriter.write(trace, options.svg);
        } catch (IOException e) {
            throw new IOException("could not write the SVG file " + options.svg + " (" + e + ")", e);
        }
        out.println("Output folder " + options.outDir.toAbsolutePath().normalize());
        out.println("  DCS file  " + options.dcs + " (job " + job + ", both eyes)");
        out.println("  SVG file  " + options.svg);
    }

    private static void createParent(Path file) throws IOException {
        Path parent = file.toAbsolutePath().getParent();
        if (parent != null) {
            Files.createDirectories(parent);
        }
    }

    /** Rounds to 1/100 (so that a tiny negative difference does not print as -0.00). */
    private static double hundredths(double value) {
        return Math.round(value * 100) / 100.0 + 0.0;
    }

    private static String eyeName(Eye eye) {
        return eye == Eye.RIGHT ? "right" : "left";
    }
}
