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
        for (String option : new String[] {"--port N", "--speed N", "--mode N", "--eye R|L|B", "--out DIR",
                "--dcs FILE", "--svg FILE", "--help", "scan-output/", "--job NAME", "DIR/<job>.dcs", "--overwrite",
                "--device NAME", "--vendor NAME", "--frame-type T", "--edge-type T", "--trace-type T",
                "seen from the front", "3 the output"}) {
            assertTrue(help.contains(option), option);
        }
        assertEquals("", err.toString(StandardCharsets.UTF_8));
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "--colour red         | unknown option --colour",
        "--port               | --port needs a value",
        "--port one           | --port needs a whole number",
        "--port=-3            | port must be 1 to 16",
        "--speed 0            | speed must be 1 to 10",
        "--mode 99999         | scan mode must be 1 (400 points) or 2",
        "--eye X              | --eye must be R, L or B",
        "--job a/b            | --job must be 1 to 64 letters, digits",
        "--job .hidden        | --job must be 1 to 64 letters, digits",
        "--job nul.1          | --job \"nul.1\" is a device name on Windows",
        "--frame-type wood    | --frame-type must be one of undefined (0), plastic (1), metal (2), rimless (3)",
        "--edge-type 7        | --edge-type must be one of uncut (-1), bevel (1)",
        "--trace-type X       | --trace-type must be F, P or D",
        "--device a;b         | --device must be printable ASCII without ';'",
        "--vendor ?           | --vendor must be printable ASCII",
        "--overwrite=yes      | --overwrite takes no value",
        "--dcs x --svg ./x    | --dcs and --svg name the same file",
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
