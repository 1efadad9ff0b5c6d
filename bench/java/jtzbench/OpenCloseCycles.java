package jtzbench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;
import java.util.stream.Stream;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerException;
import jtrazelo.tracer.TracerSettings;

/**
 * What a long-running lab program's open/close cycles cost the process: opens a tracer on port 1,
 * sets the control's text (so that the component's event thread runs), closes it; N times. Prints
 * the process's native threads and resident set size (Linux /proc) after a warm-up of 200 cycles
 * and at checkpoints, so that growth per cycle can be read off. A resource figure, not a timing.
 *
 * <pre>
 * java -Djava.library.path=build/host/lib -cp build/host/bench/jtrazelo_bench.jar:build/host/jtrazelo.jar \
 *     jtzbench.OpenCloseCycles [cycles, default 10000]
 * </pre>
 */
public final class OpenCloseCycles {
    private OpenCloseCycles() {}

    public static void main(String[] args) throws Exception {
        int cycles = args.length > 0 ? Integer.parseInt(args[0]) : 10_000;
        TracerSettings settings = TracerSettings.builder().port(1).build();
        run(settings, 200);
        print("after 200 warm-up cycles", 0);
        int done = 0;
        for (int checkpoint = cycles / 10; done < cycles; checkpoint += cycles / 10) {
            run(settings, Math.max(1, Math.min(checkpoint, cycles) - done));
            done = Math.min(checkpoint, cycles);
            print("after", done);
        }
    }

    private static void run(TracerSettings settings, int cycles) throws TracerException {
        for (int i = 0; i < cycles; i++) {
            try (Tracer tracer = Tracer.open(settings)) {
                tracer.device().setText("cycle " + i);
            }
        }
    }

    private static void print(String when, int cycles) throws Exception {
        // The component's threads end just after its last reference goes.
        Thread.sleep(200);
        System.out.printf(Locale.ROOT, "%-24s %6s cycles: %4d threads, RSS %7d kB%n", when,
                cycles == 0 ? "" : Integer.toString(cycles), threads(), residentKb());
    }

    private static long threads() throws IOException {
        try (Stream<Path> tasks = Files.list(Path.of("/proc/self/task"))) {
            return tasks.count();
        }
    }

    private static long residentKb() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        return -1;
    }
}
