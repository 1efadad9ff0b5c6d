package jtztests.output;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import jtrazelo.demo.ScanFrame;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The main program's command line (refused before anything reaches the component). */
class ScanFrameOptionsTest {
    private final ByteArrayOutputStream out = new ByteArrayOutputStream();
    private final ByteArrayOutputStream err = new ByteArrayOutputStream();

    private int run(String... args) {
        return ScanFrame.run(args, new PrintStream(out, true, StandardCharsets.UTF_8),
                new PrintStream(err, true, StandardCharsets.UTF_8));
    }

    @Test
    void helpGoesToStandardOutput() {
        assertEquals(0, run("--help"));
        String help = out.toString(StandardCharsets.UTF_8);
        for (String option : new String[] {"--port N", "--speed N", "--mode N", "--eye R|L", "--out DIR",
                "--dcs FILE", "--svg FILE", "--help", "scan-output/"}) {
            assertTrue(help.contains(option), option);
        }
        assertEquals("", err.toString(StandardCharsets.UTF_8));
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "--colour red         | unknown option --colour",
        "--port               | --port needs a value",
        "--port one           | --port needs a whole number",
        "--port=-3            | port must be 0 to",
        "--speed 0            | speed must be positive",
        "--mode 99999         | scan mode must be 1 to",
        "--eye X              | --eye must be R or L",
        "--out=               | --out needs a file or folder name",
        "--help=yes           | --help takes no value",
    })
    void badOptionsGiveUsageAndStatusTwo(String args, String reason) {
        assertEquals(2, run(args.split(" ")));
        String text = err.toString(StandardCharsets.UTF_8);
        assertTrue(text.startsWith("scan: "), text);
        assertTrue(text.contains(reason), text);
        assertTrue(text.contains("Usage: scan"), text);
        assertEquals("", out.toString(StandardCharsets.UTF_8));
    }
}
