package jtztests.deploy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import puente.ScanMontura;

/** A program started without the native libraries on its java.library.path. */
class MissingLibraryTest {
    private static String location(Class<?> type) throws Exception {
        return Path.of(type.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
    }

    @Test
    void everyUseSaysWhichLibraryIsMissingAndWhereItWasLookedFor() throws Exception {
        String java = ProcessHandle.current().info().command().orElseThrow();
        String classPath = location(ScanMontura.class) + File.pathSeparator + location(MissingLibraryProbe.class);
        Process process = new ProcessBuilder(java, "-Xcheck:jni", "-Djava.library.path=", "-cp", classPath,
                MissingLibraryProbe.class.getName()).redirectErrorStream(true).start();
        String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(process.waitFor(60, TimeUnit.SECONDS));
        assertEquals(0, process.exitValue(), output);
        List<String> lines = output.lines().toList();
        assertEquals(5, lines.size(), output);
        for (String line : lines) {
            assertTrue(line.startsWith("ezjcom.NativeLibraryError: cannot load the native library EZJcomLib18 ("
                    + System.mapLibraryName("EZJcomLib18") + "): "), line);
            assertTrue(line.endsWith("; java.library.path is \"\""), line);
        }
    }
}
